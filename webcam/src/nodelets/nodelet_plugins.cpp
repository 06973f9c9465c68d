// The two nodelets for pluginlib, so that any manager can load them.
#include "nodelets/nodelets.h"

#include <pluginlib/class_list_macros.hpp>

PLUGINLIB_EXPORT_CLASS(webcam::ViewerNodelet, nodelet::Nodelet)
PLUGINLIB_EXPORT_CLASS(webcam::SourceNodelet, nodelet::Nodelet)
