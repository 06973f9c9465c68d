#!/bin/sh
# tessel-smbus's argument handling, one case a line: exit status, a text
# its output must hold, and the arguments. /dev/null stands in for a bus
# node: it opens, but any ioctl on it fails (the adapter's functions cannot
# be asked: 1), so a usage error (2) there shows that the arguments were
# refused before any bus traffic.
tool=$1
sim=$2  # the tool with the adapter's functions from TESSEL_SIM_FUNCS
pass=0 fail=0
check() {
  want=$1 text=$2
  shift 2
  out=$("$tool" "$@" 2>&1)
  got=$?
  if [ "$got" -eq "$want" ] && printf '%s' "$out" | grep -q -- "$text"; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    echo "FAIL: tessel-smbus $* -> $got (want $want, '$text'): $out"
  fi
}
thirty_three=$(seq 1 33 | tr '\n' ' ')
check 0 'MFR_ID'                 --help
check 2 'at most 0x7f'           /dev/null 0x80 read-byte 0
check 2 'reserved'               /dev/null 0x03 read-byte 0
check 2 'reserved'               /dev/null 0x78 read-byte 0
check 1 'cannot ask /dev/null'   -a /dev/null 0x03 read-byte 0
check 2 'reserved'               -f /dev/null 0x03 read-byte 0
check 1 'cannot ask /dev/null'   -y /dev/null 0x10 read-byte 0
check 2 'no PEC'                 --pec /dev/null 0x10 i2c-block-read 0 4
check 2 'at most 32'             /dev/null 0x10 i2c-block-read 0 33
check 2 'at least one byte'      /dev/null 0x10 i2c-block-read 0 0
check 2 'runs backwards'         dump /dev/null 0x10 0x20-0x10
check 2 'takes a bus'            scan
check 1 'cannot ask /dev/null'   scan /dev/null
check 1 'cannot ask /dev/null'   dump /dev/null 0x10 0x00-0x0f
check 2 'at most 32'             /dev/null 0x10 block-write 0x20 $thirty_three
check 2 "malformed byte '0x1g'"  /dev/null 0x10 write-byte 0x20 0x1g
check 2 'malformed command'      /dev/null 0x10 read-byte -1
check 2 'too large'              /dev/null 0x10 write-word 0x20 0x10000
check 2 'no PEC'                 --pec /dev/null 0x10 send-byte 1
check 2 'no PEC'                 --pec /dev/null 0x10 receive-byte
check 2 'unknown transaction'    /dev/null 0x10 frobnicate
check 2 'needs a command code'   /dev/null 0x10 read-byte
check 2 'takes one value'        /dev/null 0x10 write-byte 0x20
check 2 'no device node /dev/i2c-4711' 4711 0x10 read-byte 0
check 2 'unknown option'         --frobnicate /dev/null 0x10 read-byte 0
check 1 'cannot ask /dev/null'   /dev/null 0x10 read-byte 0
# An SMBus-only adapter (I2C_FUNC_SMBUS_* without I2C_FUNC_I2C) is named as such.
tool=$sim
export TESSEL_SIM_FUNCS=0x0eff0000
check 1 'is an SMBus-only adapter' /dev/null 0x10 read-byte 0
check 1 'is an SMBus-only adapter' scan /dev/null
# Plain I2C without quick writes: the scan probes by reads, and says so; the
# probes then fail otherwise than by no acknowledge (/dev/null runs no
# transfer), which it names and exits 1 for, rather than an empty grid.
export TESSEL_SIM_FUNCS=0x00000001
check 1 'sends no quick writes; probing every address by a one-byte read' scan /dev/null
check 1 'the scan cannot say what is there' scan /dev/null
check 1 '"failed":\[8,9,10' --json scan /dev/null
echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
