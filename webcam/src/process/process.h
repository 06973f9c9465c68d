// What the package's programs (the viewer, image_source, the nodelet
// manager) do to the process they run in.
#pragma once

namespace webcam {

// Frames are megabytes: glibc would map every message's buffers afresh and
// fault each page in again (a 1080p frame is two such buffers, some 3000
// faults). Keeps blocks up to 32 MiB (a 4K colour frame) on the heap for
// reuse, and the heap's top where it is. Call before the first frame.
void KeepFramesOnHeap();

// Ctrl-C and a plain kill end the program cleanly, within two seconds in
// every state: calls to the ROS APIs end at once, and where roscpp's own
// shutdown waits on a master that does not answer, the process ends
// without it. Call once, after ros::init with
// ros::init_options::NoSigintHandler.
void EndOnSignals();

// Ends the program with status once ros::spin returns: any part of the
// process may ask (a source that cannot start in a manager). The first
// status asked for is kept.
void EndProcess(int status);
int ExitStatus();

// For a process whose stdout carries the viewer's progress characters
// only: the console's DEBUG and INFO lines, which roscpp writes to stdout,
// go to stderr like its warnings. /rosout and the log file are unchanged.
void ConsoleOffStdout();

}  // namespace webcam
