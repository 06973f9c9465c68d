// The messages a relay fills and sends, each reused once nobody else holds
// it (roscpp lets go of a message it serialized as soon as publish returns,
// a subscriber in the process once its callback is done): their arrays keep
// their size, so a steady stream neither allocates nor zero-fills.
#pragma once

#include <image_msgs/Image.h>

#include <boost/make_shared.hpp>

#include <vector>

namespace webcam {

class ImagePool {
public:
    // Enough for the viewer's queue of 2, the frame it draws and the one
    // being filled, and then some.
    static constexpr size_t kKept = 6;

    // A message no one else holds: a kept one, or a new one (kept while
    // fewer than kKept are).
    image_msgs::ImagePtr take()
    {
        for (const image_msgs::ImagePtr &img : images_)
            if (img.use_count() == 1)
                return img;
        auto img = boost::make_shared<image_msgs::Image>();
        if (images_.size() < kKept)
            images_.push_back(img);
        return img;
    }

private:
    std::vector<image_msgs::ImagePtr> images_;
};

}  // namespace webcam
