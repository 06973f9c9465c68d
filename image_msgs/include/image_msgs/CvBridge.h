// Zero-copy bridge from image_msgs/Image to an OpenCV view.
#pragma once

#include <image_msgs/Image.h>

#include <opencv2/core.hpp>

#include <string>

namespace image_msgs {

class CvBridge {
public:
    // Wraps the pixels of img's array for its depth ("uint8" or "uint16") in
    // a cv::Mat view: no copy, no channel reordering, rows dim[0].size, columns
    // dim[1].size, channels dim[2].size, row stride dim[1].stride elements,
    // starting layout.data_offset elements into data. The view aliases img
    // and is valid until img's array changes.
    //
    // Returns false, and holds no view afterwards, for any other depth, a
    // target encoding other than "" or the source's own, or a layout that
    // does not lie wholly inside the array.
    bool fromImage(Image &img, const std::string &encoding);
    // The same over a message shared with other subscribers: the view must
    // only be read.
    bool fromImage(const Image &img, const std::string &encoding);

    // The view of the last conversion; empty when it failed or none was made.
    cv::Mat toIpl() const { return view_; }

private:
    cv::Mat view_;
};

// The view a multi-array of element type T describes (see fromImage), or an
// empty Mat when its layout does not lie inside its data.
template <class MultiArray> cv::Mat ArrayView(const MultiArray &array);

// The reverse: a message that carries a copy of frame (CV_8U or CV_16U, any
// channel count) with the encoding given.
Image ToImage(const cv::Mat &frame, const std::string &encoding);

// Lays img out for a rows x cols frame of type (CV_8U or CV_16U, any
// channel count) and returns a view of its array for the caller to fill:
// the samples go straight into the message. The storage of a message laid
// out for the same size before is reused as it is, without a write.
cv::Mat ImageFrame(Image &img, int rows, int cols, int type);

}  // namespace image_msgs
