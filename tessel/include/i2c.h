// tessel: SMBus-style command transactions over Linux i2c-dev.
//
// Every command runs as one combined I2C_RDWR transfer (write half, repeated
// start, read half), so it works on any adapter that can do plain I2C. With
// the CRC switch on, the library computes and checks the SMBus packet error
// code (CRC-8 over every byte of the transaction, address bytes included)
// itself instead of relying on the adapter.
//
// Results: 0 success; -1 nothing usable happened, errno says why; EMSGSIZE or
// EBADMSG (positive) the transaction ran but its read half did not verify,
// the data were delivered all the same.
//
// The slave address and the CRC switch are process-wide: the caller
// serialises address changes against transfers.
//
// Where this library departs from SMBus on purpose:
// - A bare command (Send Byte through I2cWriteBytes with no data, or the
//   raw transfers) carries no PEC, even with the CRC switch on.
// - A block read clocks the whole room asked for (count byte, rdLen data
//   bytes, PEC) whatever count the device sends: the length of an I2C_RDWR
//   read is fixed before the transfer starts. The PEC is taken from the
//   byte right behind the device's count, so a short block still verifies.
// - With the CRC switch on, a count above the room comes back as EBADMSG,
//   not EMSGSIZE: the byte read as PEC is then one of the device's data
//   bytes (EMSGSIZE only when that byte happens to equal the PEC). Either
//   way exactly the room is delivered, never more.
#ifndef TESSEL_I2C_H
#define TESSEL_I2C_H

#include <stdint.h>

typedef uint8_t I2C_Addr_t;  // 7-bit slave address, unshifted

// Bit 7 of a length argument of I2cTransfer: that half carries a count byte.
// Bits 0..6 are the number of data bytes, at most I2C_TRANSFER_MAX_DATA.
#define I2C_LEN_BLOCK 0x80
#define I2C_TRANSFER_MAX_DATA 32

void I2cSetSlaveAddress(int i2cDev, I2C_Addr_t i2cAddr, int useCrc);

int I2cTransfer(int i2cDev, uint8_t cmd, const uint8_t *wrData, uint8_t wrLen,
                uint8_t *rdData, uint8_t rdLen, uint8_t *bytesReadp);

// Raw transfers: no command byte, no count byte, never a CRC byte.
int I2cSendBytes(int i2cDev, const uint8_t *wrData, uint8_t wrLen);
int I2cSendByte(int i2cDev, uint8_t wrByte);
int I2cReceiveBytes(int i2cDev, uint8_t *rdData, uint8_t rdLen);
int I2cReceiveByte(int i2cDev, uint8_t *rdByte);

// SMBus commands. The Write/Read Block forms set the block flag themselves;
// WriteBytes/ReadBytes pass the length through as given.
int I2cWriteBytes(int i2cDev, uint8_t cmd, const uint8_t *wrByte, uint8_t wrLen);
int I2cWriteByte(int i2cDev, uint8_t cmd, uint8_t wrByte);
int I2cWriteBlock(int i2cDev, uint8_t cmd, const uint8_t *wrData, uint8_t wrLen);
int I2cReadBytes(int i2cDev, uint8_t cmd, uint8_t *rdByte, uint8_t rdLen);
int I2cReadByte(int i2cDev, uint8_t cmd, uint8_t *rdByte);
int I2cReadBlock(int i2cDev, uint8_t cmd, uint8_t *rdData, uint8_t rdLen,
                 uint8_t *bytesReadp);
int I2cProcessBlock(int i2cDev, uint8_t cmd, const uint8_t *wrData, uint8_t wrLen,
                    uint8_t *rdData, uint8_t rdLen, uint8_t *bytesReadp);

#endif
