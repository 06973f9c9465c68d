// A thread of its own for work on the ROS graph (master and slave-API
// calls, name look-ups, probes), so that it never waits on the queue that
// carries frames or service calls: it runs its task every period until it
// is stopped, and the task's calls end early once it is.
#pragma once

#include "graph/xmlrpc.h"

#include <ros/console.h>
#include <xmlrpcpp/XmlRpcException.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace webcam {

class Worker {
public:
    Worker(std::chrono::milliseconds period, std::function<void()> task)
        : period_(period), task_(std::move(task)), thread_(&Worker::run, this)
    {
    }
    ~Worker() { stop(); }
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Returns once the task has ended (its calls end within a slice of
    // 50 ms); from the task itself, at once.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
    }

private:
    void run()
    {
        CancelCallsWith(&stop_);
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            lock.unlock();
            try {
                task_();
            } catch (const XmlRpc::XmlRpcException &e) {  // an answer of another shape than the API's
                ROS_WARN_THROTTLE(10, "an answer of the ROS graph that makes no sense: %s", e.getMessage().c_str());
            } catch (const std::exception &e) {
                ROS_WARN_THROTTLE(10, "looking at the ROS graph failed: %s", e.what());
            }
            lock.lock();
            wake_.wait_for(lock, period_, [this] { return stop_.load(); });
        }
    }

    const std::chrono::milliseconds period_;
    const std::function<void()> task_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;  // last: starts once the rest is set
};

}  // namespace webcam
