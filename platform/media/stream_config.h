// One stream of a profile: its number, names, bitrate and media type.
#pragma once

#include <string>
#include <string_view>

#include "platform/media/media_types.h"

namespace kiv::media {

class StreamConfig {
public:
    explicit StreamConfig(const GUID& streamType) : streamType_(streamType) {}

    const GUID& GetStreamType() const { return streamType_; }

    WORD GetStreamNumber() const { return streamNumber_; }
    // Stream numbers 1 to 63 are the ones a file can carry.
    HRESULT SetStreamNumber(WORD number);

    const std::u16string& GetStreamName() const { return streamName_; }
    HRESULT SetStreamName(std::u16string_view name);
    const std::u16string& GetConnectionName() const { return connectionName_; }
    HRESULT SetConnectionName(std::u16string_view name);

    // Bits per second; 0 when none was set (quality-based streams).
    DWORD GetBitrate() const { return bitrate_; }
    HRESULT SetBitrate(DWORD bitsPerSecond);

    const MediaType& GetMediaType() const { return mediaType_; }
    // The type's major type must be the stream's own kind.
    HRESULT SetMediaType(const MediaType& type);

private:
    GUID streamType_;
    WORD streamNumber_ = 0;
    std::u16string streamName_;
    std::u16string connectionName_;
    DWORD bitrate_ = 0;
    MediaType mediaType_;
};

}  // namespace kiv::media
