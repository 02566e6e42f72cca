// The media type of a writer input or a reader output.
#pragma once

#include "platform/media/media_types.h"

namespace kiv::media {

class MediaProps {
public:
    MediaProps() = default;
    explicit MediaProps(MediaType type) : type_(std::move(type)) {}

    const MediaType& GetMediaType() const { return type_; }
    HRESULT SetMediaType(const MediaType& type) {
        type_ = type;
        return S_OK;
    }

private:
    MediaType type_;
};

}  // namespace kiv::media
