// image_source: the "image" publication, and the generator or the relay
// that its ~source parameter names.
#include "source/source.h"

#include "source/generators.h"
#include "source/relay_node.h"

#include <image_msgs/Image.h>

namespace webcam {

struct ImageSource::Impl {
    ros::Publisher pub;
    std::unique_ptr<RelayNode> relay;
    std::unique_ptr<Generator> generator;
};

ImageSource::ImageSource(ros::NodeHandle nh, ros::NodeHandle pnh, Hooks hooks) : impl_(new Impl)
{
    std::string source;
    pnh.param<std::string>("source", source, "pattern");
    impl_->pub = nh.advertise<image_msgs::Image>("image", 2);
    if (source == "topic" || source == "compressed")
        impl_->relay.reset(new RelayNode(nh, pnh, source, impl_->pub, std::move(hooks)));
    else
        impl_->generator.reset(new Generator(pnh, source, impl_->pub, std::move(hooks)));
}

ImageSource::~ImageSource() = default;

int ImageSource::sent() const
{
    return impl_->relay ? impl_->relay->sent() : impl_->generator->sent();
}

}  // namespace webcam
