#include "nodelets/gui_thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace webcam {

namespace {

class GuiThread {
public:
    static GuiThread &instance()
    {
        // Never destroyed: the thread runs until the process ends.
        static GuiThread *gui = new GuiThread;
        return *gui;
    }

    void run(const std::function<void()> &f)
    {
        if (std::this_thread::get_id() == id_) {
            f();
            return;
        }
        bool done = false;
        std::exception_ptr failed;
        std::unique_lock<std::mutex> lock(mutex_);
        tasks_.push_back([&] {
            try {
                f();
            } catch (...) {
                failed = std::current_exception();  // the caller's to handle, not the GUI thread's
            }
            std::lock_guard<std::mutex> finished(mutex_);
            done = true;
            changed_.notify_all();
        });
        changed_.notify_all();
        changed_.wait(lock, [&] { return done; });
        if (failed)
            std::rethrow_exception(failed);
    }

    void serve(ros::CallbackQueue *queue)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        queue_ = queue;
        changed_.notify_all();
        if (std::this_thread::get_id() != id_)
            changed_.wait(lock, [&] { return serving_ == queue_; });
    }

private:
    GuiThread()
    {
        std::thread thread(&GuiThread::loop, this);
        id_ = thread.get_id();
        thread.detach();
    }

    void loop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (serving_ != queue_) {
                serving_ = queue_;
                changed_.notify_all();
            }
            if (!tasks_.empty()) {
                std::function<void()> task = std::move(tasks_.front());
                tasks_.pop_front();
                lock.unlock();
                task();
                lock.lock();
            } else if (serving_) {
                ros::CallbackQueue *queue = serving_;
                lock.unlock();
                // Wakes for a callback at once, for a task or another queue
                // within the timeout.
                queue->callAvailable(ros::WallDuration(0.01));
                lock.lock();
            } else {
                changed_.wait(lock);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    ros::CallbackQueue *queue_ = nullptr;    // to serve
    ros::CallbackQueue *serving_ = nullptr;  // being served
    std::thread::id id_;
};

}  // namespace

void OnGuiThread(const std::function<void()> &f)
{
    GuiThread::instance().run(f);
}

void ServeOnGuiThread(ros::CallbackQueue *queue)
{
    GuiThread::instance().serve(queue);
}

}  // namespace webcam
