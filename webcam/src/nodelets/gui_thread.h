// The process's one thread for HighGUI. Qt binds its application to the
// first thread that uses it and wants every later call there, so every
// viewer in the process, loaded and unloaded in turn, runs on this thread:
// it is made with the first and lives as long as the process.
#pragma once

#include <ros/callback_queue.h>

#include <functional>

namespace webcam {

// Runs f on the GUI thread and returns once it has run.
void OnGuiThread(const std::function<void()> &f);

// The GUI thread serves queue's callbacks from now on (nullptr: none).
// Returns once the queue it served before is no longer being called.
void ServeOnGuiThread(ros::CallbackQueue *queue);

}  // namespace webcam
