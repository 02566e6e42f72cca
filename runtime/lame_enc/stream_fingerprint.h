// Identifies a run of MP3 bytes by length and a 64-bit FNV-1a hash, so the
// VBR header writer can tell which finished stream a file holds without
// trusting file names (the caller may rename or tag the file in between).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::lame_enc {

class StreamFingerprint {
public:
    void Add(const std::uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            hash_ = (hash_ ^ data[i]) * kPrime;
        }
        length_ += size;
    }

    std::uint64_t Length() const { return length_; }
    std::uint64_t Hash() const { return hash_; }

    friend bool operator==(const StreamFingerprint&, const StreamFingerprint&) = default;

private:
    static constexpr std::uint64_t kOffsetBasis = 14695981039346656037ull;
    static constexpr std::uint64_t kPrime = 1099511628211ull;

    std::uint64_t length_ = 0;
    std::uint64_t hash_ = kOffsetBasis;
};

}  // namespace kiv::lame_enc
