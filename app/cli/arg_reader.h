// Reads a command's arguments one at a time: options with or without a
// value ("--dest DIR" or "--dest=DIR"), plain arguments, and "--" after
// which everything is a plain argument. Errors are printed once, prefixed
// with the command's name, and make ok() false.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class ArgReader {
public:
    ArgReader(const char* command, const std::vector<std::string>& args) : command_(command), args_(args) {}

    // The next argument; false at the end. `option` tells whether it is an
    // option (starts with '-' and comes before "--").
    bool Next() {
        inlineValue_.reset();
        if (index_ >= args_.size()) return false;
        current_ = args_[index_++];
        option_ = false;
        if (!afterDashes_ && current_ == "--") {
            afterDashes_ = true;
            return Next();
        }
        if (!afterDashes_ && current_.size() > 1 && current_[0] == '-') {
            option_ = true;
            if (auto eq = current_.find('='); eq != std::string::npos && current_.rfind("--", 0) == 0) {
                inlineValue_ = current_.substr(eq + 1);
                current_.resize(eq);
            }
        }
        return true;
    }

    const std::string& current() const { return current_; }
    bool option() const { return option_; }
    bool Is(const char* name) const { return option_ && current_ == name; }
    bool Is(const char* a, const char* b) const { return Is(a) || Is(b); }
    // The value given inline ("--exists=rename") when there was one.
    const std::optional<std::string>& inlineValue() const { return inlineValue_; }

    // The option's value: inline, or the next argument.
    std::optional<std::string> Value() {
        if (inlineValue_) return inlineValue_;
        if (index_ >= args_.size()) {
            Error(current_ + " needs a value");
            return std::nullopt;
        }
        return args_[index_++];
    }

    // A whole number from `low` to `high`.
    std::optional<long> Number(long low, long high) {
        auto text = Value();
        if (!text) return std::nullopt;
        char* end = nullptr;
        long n = std::strtol(text->c_str(), &end, 10);
        if (text->empty() || *end != 0 || n < low || n > high) {
            Error(current_ + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                  ", not '" + *text + "'");
            return std::nullopt;
        }
        return n;
    }

    void Error(const std::string& text) {
        if (ok_) std::fprintf(stderr, "ondalo-cli %s: %s\n", command_, text.c_str());
        ok_ = false;
    }
    void Unknown() { Error("unknown option '" + current_ + "' (see --help)"); }
    bool ok() const { return ok_; }

private:
    const char* command_;
    const std::vector<std::string>& args_;
    std::size_t index_ = 0;
    std::string current_;
    bool option_ = false;
    bool afterDashes_ = false;
    bool ok_ = true;
    std::optional<std::string> inlineValue_;
};

}  // namespace kiv
