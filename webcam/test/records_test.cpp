#include <webcam/dump.h>
#include <webcam/dumpstop.h>
#include <webcam/help.h>
#include <webcam/hide.h>
#include <webcam/info.h>
#include <webcam/play.h>
#include <webcam/playstop.h>
#include <webcam/setting.h>
#include <webcam/show.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

template <class R> Bytes Legacy(const R &r, uint32_t seq = 0)
{
    Bytes out(r.serializationLength());
    uint8_t *end = r.serialize(out.data(), seq);
    EXPECT_EQ(end, out.data() + out.size());
    return out;
}

template <class R> Bytes Roscpp(const R &r)
{
    Bytes out(ros::serialization::serializationLength(r));
    ros::serialization::OStream stream(out.data(), uint32_t(out.size()));
    ros::serialization::serialize(stream, r);
    return out;
}

// Sets whichever of the services' fields a record has; the strings hold a
// NUL and non-ASCII bytes.
#define FIELD(field, value)                                                     \
    template <class R> auto Set_##field(R &r, int)->decltype(r.field, void()) { \
        r.field = value;                                                        \
    }                                                                           \
    template <class R> void Set_##field(R &, long) {}
FIELD(args, std::string("a\0\xff", 3))
FIELD(name, "snapshot.png")
FIELD(text, "caf\xc3\xa9")
FIELD(setting, "HE")
FIELD(value, "")
FIELD(ok, -1)
FIELD(error, std::string(300, 'e'))
#undef FIELD

template <class R> R Filled()
{
    R r;
    Set_args(r, 0), Set_name(r, 0), Set_text(r, 0), Set_setting(r, 0), Set_value(r, 0), Set_ok(r, 0),
        Set_error(r, 0);
    return r;
}

// Decodes from a heap block of exactly the bytes given, so that any read
// past them is an AddressSanitizer report.
template <class R> bool Decode(const Bytes &bytes, R &r)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    uint8_t *end = r.deserialize(exact.get(), uint32_t(bytes.size()));
    return end == exact.get() + bytes.size();
}

template <class S> class Records : public testing::Test {};
using Services = testing::Types<webcam::help, webcam::dump, webcam::dumpstop, webcam::play, webcam::playstop,
                                webcam::show, webcam::hide, webcam::info, webcam::setting>;
TYPED_TEST_SUITE(Records, Services);

template <class R> void RoundTrip()
{
    const R sent = Filled<R>();
    const Bytes bytes = Legacy(sent, 1);
    EXPECT_EQ(bytes, Legacy(sent, 99)) << "seq must not matter";
    EXPECT_EQ(bytes, Roscpp(sent)) << "both serializers put the same bytes on the wire";
    R got;
    ASSERT_TRUE(Decode(bytes, got));
    EXPECT_EQ(Legacy(got), bytes);
    // Every shorter prefix is refused without reading past it.
    for (size_t len = 0; len < bytes.size(); len++) {
        R partial;
        const Bytes prefix(bytes.begin(), bytes.begin() + len);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[len + 1]);
        std::copy(prefix.begin(), prefix.end(), exact.get());
        const bool complete = partial.deserialize(exact.get(), uint32_t(len)) != nullptr;
        EXPECT_EQ(complete, len == 0 && bytes.empty()) << len;
    }
}

TYPED_TEST(Records, EncodeDecodeAndRefuseTruncation)
{
    RoundTrip<typename TypeParam::Request>();
    RoundTrip<typename TypeParam::Response>();
}

TYPED_TEST(Records, BothHalvesCarryTheServiceIdentity)
{
    using Req = typename TypeParam::Request;
    using Res = typename TypeParam::Response;
    const std::string service = TypeParam::getDataType();
    EXPECT_EQ(Req::__s_getServiceDataType(), service);
    EXPECT_EQ(Res::__s_getServiceDataType(), service);
    EXPECT_EQ(Req::__s_getDataType(), service + "Request");
    EXPECT_EQ(Res::__s_getDataType(), service + "Response");
    EXPECT_EQ(Req::__s_getServerMD5Sum(), Res::__s_getServerMD5Sum());
    EXPECT_EQ(Req::__s_getMD5Sum(), "");
    // roscpp refuses to advertise unless the two checksum pointers are equal.
    EXPECT_EQ(ros::service_traits::md5sum<Req>(), ros::service_traits::md5sum<Res>());
    std::unique_ptr<ros::Message> msg(new Res);
    EXPECT_EQ(msg->__getDataType(), service + "Response");
    EXPECT_EQ(msg->__getMD5Sum(), "");
}

TEST(Records, ServerChecksumsAreThePublishedOnes)
{
    const std::pair<std::string, std::string> published[] = {
        {webcam::help::getMD5Sum(), "7c9968aa1df600333f373cf8c572d096"},
        {webcam::dump::getMD5Sum(), "2bdfdbb7decf21e18428bd8e7b0d339f"},
        {webcam::dumpstop::getMD5Sum(), "2bdfdbb7decf21e18428bd8e7b0d339f"},
        {webcam::play::getMD5Sum(), "2bdfdbb7decf21e18428bd8e7b0d339f"},
        {webcam::playstop::getMD5Sum(), "2bdfdbb7decf21e18428bd8e7b0d339f"},
        {webcam::show::getMD5Sum(), "8a16033328c33d37caa6abb38ce566d3"},
        {webcam::hide::getMD5Sum(), "8813d544778a72cd570fe1515de0518c"},
        {webcam::info::getMD5Sum(), "7c9968aa1df600333f373cf8c572d096"},
        {webcam::setting::getMD5Sum(), "e769fef9fff82f58ee407f52169dcb17"},
    };
    for (const auto &p : published)
        EXPECT_EQ(p.first, p.second);
}

TEST(Records, DefinitionTexts)
{
    EXPECT_EQ(webcam::help::Request::__s_getMessageDefinition(), "string args\n\n");
    EXPECT_EQ(webcam::info::Response::__s_getMessageDefinition(), "string text\n\n\n\n");
    EXPECT_EQ(webcam::hide::Request::__s_getMessageDefinition(), "\n");
    EXPECT_EQ(webcam::setting::Request::__s_getMessageDefinition(), "string setting\nstring value\n\n");
    EXPECT_EQ(webcam::dump::Response::__s_getMessageDefinition(), "int8 ok\nstring error\n\n\n\n");
}

TEST(Records, WireExamples)
{
    webcam::setting::Request set;
    set.setting = "he";
    set.value = "on";
    EXPECT_EQ(Legacy(set), (Bytes{0x02, 0, 0, 0, 0x68, 0x65, 0x02, 0, 0, 0, 0x6F, 0x6E}));
    webcam::show::Response shown;
    shown.ok = 1;
    EXPECT_EQ(Legacy(shown), (Bytes{0x01, 0, 0, 0, 0}));
    webcam::help::Response help;
    help.text = "todo: No help available yet.";
    const Bytes helpBytes = Legacy(help);
    EXPECT_EQ(helpBytes.size(), 32u);
    EXPECT_EQ(helpBytes[0], 0x1C);
    EXPECT_TRUE(Legacy(webcam::hide::Request()).empty());
    webcam::dump::Response refused;
    refused.ok = -1;
    EXPECT_EQ(Legacy(refused)[0], 0xFF);
}

TEST(Records, LengthRunningPastTheBytesIsRefused)
{
    webcam::setting::Request r;
    // setting claims 4 GiB; value never arrives.
    EXPECT_FALSE(Decode(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 'h', 'e'}, r));
    EXPECT_FALSE(Decode(Bytes{0x02, 0, 0, 0, 'h', 'e', 0x05, 0, 0, 0, 'o'}, r));
    // The size comes from the receiver: the record's own default is nothing.
    webcam::info::Request unsized;
    std::unique_ptr<uint8_t[]> exact(new uint8_t[4]());
    EXPECT_EQ(unsized.deserialize(exact.get()), nullptr);
}

}  // namespace
