// tessel-smbus --json: a writer for one object, no more than the tool needs.
#include "json.h"

#include <cmath>
#include <cstdio>

std::string Quoted(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {  // what a device sends need not be text
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

void Json::Key(const char *key)
{
    if (!empty_.empty()) {
        if (!empty_.back())
            text_ += ',';
        empty_.back() = false;
    }
    if (key)
        text_ += Quoted(key) + ':';
}

Json &Json::Object(const char *key)
{
    Key(key);
    text_ += '{';
    closers_ += '}';
    empty_.push_back(true);
    return *this;
}

Json &Json::Array(const char *key)
{
    Key(key);
    text_ += '[';
    closers_ += ']';
    empty_.push_back(true);
    return *this;
}

Json &Json::Close()
{
    text_ += closers_.back();
    closers_.pop_back();
    empty_.pop_back();
    return *this;
}

Json &Json::Put(const char *key, long long v)
{
    Key(key);
    text_ += std::to_string(v);
    return *this;
}

Json &Json::Put(const char *key, double v)
{
    Key(key);
    if (!std::isfinite(v)) {
        text_ += "null";
    } else {
        char num[32];
        snprintf(num, sizeof num, "%.10g", v);
        text_ += num;
    }
    return *this;
}

Json &Json::Put(const char *key, const std::string &v)
{
    Key(key);
    text_ += Quoted(v);
    return *this;
}

Json &Json::Put(const char *key, const char *v)
{
    if (!v)
        return Null(key);
    return Put(key, std::string(v));
}

Json &Json::Put(const char *key, bool v)
{
    Key(key);
    text_ += v ? "true" : "false";
    return *this;
}

Json &Json::Null(const char *key)
{
    Key(key);
    text_ += "null";
    return *this;
}
