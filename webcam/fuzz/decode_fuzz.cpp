// Every record the viewer receives, decoded from arbitrary bytes: the image
// through roscpp's deserializer (with our bounded reader behind it), the
// nine service requests through theirs. What decodes must fit in the bytes
// it came from; anything else must be refused, with memory untouched.
#include <image_msgs/Image.h>
#include <webcam/dump.h>
#include <webcam/dumpstop.h>
#include <webcam/help.h>
#include <webcam/hide.h>
#include <webcam/info.h>
#include <webcam/play.h>
#include <webcam/playstop.h>
#include <webcam/setting.h>
#include <webcam/show.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

template <class Record> void Decode(const uint8_t *data, size_t size)
{
    // Exactly the message, never a null buffer (roscpp's receive buffer is
    // new[size]): ASan guards its end.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    std::copy(data, data + size, bytes.get());
    Record record;
    try {
        ros::serialization::IStream stream(bytes.get(), uint32_t(size));
        ros::serialization::deserialize(stream, record);
    } catch (const ros::serialization::StreamOverrunException &) {
        return;
    }
    if (ros::serialization::serializationLength(record) > size)
        abort();
}

template <class... Records> void DecodeAll(const uint8_t *data, size_t size)
{
    (Decode<Records>(data, size), ...);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DecodeAll<image_msgs::Image, webcam::help::Request, webcam::dump::Request, webcam::dumpstop::Request,
              webcam::play::Request, webcam::playstop::Request, webcam::show::Request, webcam::hide::Request,
              webcam::info::Request, webcam::setting::Request>(data, size);
    return 0;
}
