// A profile: the named list of streams that a writer produces or that a
// reader found in a file.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/media/stream_config.h"

namespace kiv::media {

class Profile {
public:
    explicit Profile(DWORD version) : version_(version) {}

    DWORD GetVersion() const { return version_; }
    const std::u16string& GetName() const { return name_; }
    HRESULT SetName(std::u16string_view name);

    // A fresh stream configuration of the given kind; it belongs to the
    // profile only once it is added.
    HRESULT CreateNewStream(const GUID& streamType, std::unique_ptr<StreamConfig>& out) const;
    // Copies the configuration in. Its number must be set and not yet taken.
    HRESULT AddStream(const StreamConfig& config);

    DWORD GetStreamCount() const { return static_cast<DWORD>(streams_.size()); }
    // A copy of the stream at `index` (0-based, in the order added).
    HRESULT GetStream(DWORD index, std::unique_ptr<StreamConfig>& out) const;
    const StreamConfig* FindStream(WORD streamNumber) const;

private:
    DWORD version_;
    std::u16string name_;
    std::vector<StreamConfig> streams_;
};

}  // namespace kiv::media
