// tessel-smbus --json: one object on stdout, written as the facts come.
#pragma once

#include <string>
#include <vector>

class Json {
public:
    // Opens an object or an array, as a member named key or as an element.
    Json &Object(const char *key = nullptr);
    Json &Array(const char *key = nullptr);
    Json &Close();  // the innermost open object or array

    Json &Put(const char *key, long long v);
    Json &Put(const char *key, double v);  // null when not finite
    Json &Put(const char *key, const std::string &v);
    Json &Put(const char *key, const char *v);  // null when v is null
    Json &Put(const char *key, bool v);
    Json &Put(const char *key, int v) { return Put(key, (long long)v); }
    Json &Put(const char *key, unsigned v) { return Put(key, (long long)v); }
    Json &Null(const char *key);

    // The text so far; whole once every Object and Array is closed.
    const std::string &Text() const { return text_; }

private:
    void Key(const char *key);
    std::string text_;
    std::string closers_;      // per open level: the bracket that closes it
    std::vector<bool> empty_;  // and whether nothing is written in it yet
};

// s as a JSON string, quoted.
std::string Quoted(const std::string &s);
