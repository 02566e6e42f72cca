#include "platform/sound/secondary_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace kiv::sound {

namespace {

bool DescriptionSizeKnown(DWORD size) {
    return size == DSBUFFERDESC1_SIZE || size == DSBUFFERDESC_SIZE || size == DSBUFFERDESC1_SIZE_32 ||
           size == DSBUFFERDESC_SIZE_32;
}

}  // namespace

SecondaryBuffer::SecondaryBuffer(std::shared_ptr<OutputEngine> engine) : engine_(std::move(engine)) {}

HRESULT SecondaryBuffer::Create(std::shared_ptr<OutputEngine> engine, const DSBUFFERDESC& desc,
                                std::unique_ptr<IDirectSoundBuffer>& out) {
    if (!DescriptionSizeKnown(desc.dwSize)) return DSERR_INVALIDPARAM;
    if (desc.dwFlags & DSBCAPS_PRIMARYBUFFER) return DSERR_UNSUPPORTED;
    if (desc.lpwfxFormat == nullptr) return DSERR_INVALIDPARAM;
    const auto format = ParsePcmFormat(*desc.lpwfxFormat);
    if (!format) return DSERR_BADFORMAT;
    if (desc.dwBufferBytes < DSBSIZE_MIN || desc.dwBufferBytes > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
    // The cursor moves in whole frames, so a ragged tail could never be
    // played; the size is cut to whole frames (GetCaps reports it).
    const DWORD frames = desc.dwBufferBytes / format->BlockAlign();
    if (frames == 0) return DSERR_INVALIDPARAM;

    try {
        std::unique_ptr<SecondaryBuffer> buffer(new SecondaryBuffer(std::move(engine)));
        BufferState& s = buffer->state_;
        s.format = *format;
        const auto* raw = reinterpret_cast<const BYTE*>(desc.lpwfxFormat);
        const std::size_t recordSize =
            desc.lpwfxFormat->wFormatTag == WAVE_FORMAT_EXTENSIBLE ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
        s.formatRecord.assign(raw, raw + recordSize);
        if (recordSize == sizeof(WAVEFORMATEX)) {
            // Whatever follows a plain record is not ours to keep.
            WAVEFORMATEX plain;
            std::memcpy(&plain, raw, sizeof plain);
            plain.cbSize = 0;
            std::memcpy(s.formatRecord.data(), &plain, sizeof plain);
        }
        s.flags = desc.dwFlags;
        s.frames = frames;
        s.memory.assign(std::size_t(frames) * format->BlockAlign(), SilenceByte(*format));
        std::lock_guard lock(buffer->engine_->Mutex());
        buffer->engine_->Attach(s);
        out = std::move(buffer);
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    return DS_OK;
}

SecondaryBuffer::~SecondaryBuffer() {
    auto lock = Enter();
    if (state_.playing) {
        state_.playing = false;
        engine_->Stopped(state_);
    }
    engine_->Detach(state_);
}

std::unique_lock<std::mutex> SecondaryBuffer::Enter() {
    std::unique_lock lock(engine_->Mutex());
    engine_->Advance();
    return lock;
}

void SecondaryBuffer::FillWithSilence() {
    std::fill(state_.memory.begin(), state_.memory.end(), SilenceByte(state_.format));
}

HRESULT SecondaryBuffer::GetCaps(DSBCAPS* caps) {
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    auto lock = Enter();
    caps->dwFlags = state_.flags | DSBCAPS_LOCSOFTWARE;
    caps->dwBufferBytes = state_.Bytes();
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
}

HRESULT SecondaryBuffer::GetFormat(WAVEFORMATEX* format, DWORD allocated, DWORD* sizeWritten) {
    if (format == nullptr && sizeWritten == nullptr) return DSERR_INVALIDPARAM;
    auto lock = Enter();
    const auto needed = static_cast<DWORD>(state_.formatRecord.size());
    if (sizeWritten != nullptr) *sizeWritten = needed;
    if (format != nullptr) {
        if (allocated < needed) return DSERR_INVALIDPARAM;
        std::memcpy(format, state_.formatRecord.data(), needed);
    }
    return DS_OK;
}

HRESULT SecondaryBuffer::GetCurrentPosition(DWORD* play, DWORD* write) {
    if (play == nullptr && write == nullptr) return DSERR_INVALIDPARAM;
    auto lock = Enter();
    const DWORD align = state_.format.BlockAlign();
    const auto playFrame = static_cast<DWORD>(std::floor(state_.playFrame)) % state_.frames;
    if (play != nullptr) *play = playFrame * align;
    if (write != nullptr) {
        const DWORD lead = state_.playing ? std::min(engine_->WriteLeadFrames(state_), state_.frames - 1) : 0;
        *write = ((playFrame + lead) % state_.frames) * align;
    }
    return DS_OK;
}

HRESULT SecondaryBuffer::SetCurrentPosition(DWORD play) {
    auto lock = Enter();
    if (play >= state_.Bytes()) return DSERR_INVALIDPARAM;
    state_.playFrame = play / state_.format.BlockAlign();
    if (state_.playing) engine_->Started(state_);
    return DS_OK;
}

HRESULT SecondaryBuffer::GetStatus(DWORD* status) {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    auto lock = Enter();
    DWORD s = 0;
    if (state_.playing) s |= DSBSTATUS_PLAYING;
    if (state_.playing && state_.looping) s |= DSBSTATUS_LOOPING;
    if (state_.lost) s |= DSBSTATUS_BUFFERLOST;
    *status = s;
    return DS_OK;
}

HRESULT SecondaryBuffer::GetVolume(LONG* volume) {
    if (volume == nullptr) return DSERR_INVALIDPARAM;
    if (!(state_.flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    auto lock = Enter();
    *volume = state_.volume;
    return DS_OK;
}

HRESULT SecondaryBuffer::SetVolume(LONG volume) {
    if (!(state_.flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    // Entering first: what played up to now keeps the old volume.
    auto lock = Enter();
    state_.volume = volume;
    state_.gain = GainFromHundredthsOfDb(volume);
    return DS_OK;
}

HRESULT SecondaryBuffer::Play(DWORD reserved1, DWORD /*priority*/, DWORD flags) {
    if (reserved1 != 0) return DSERR_INVALIDPARAM;
    auto lock = Enter();
    if (state_.lost) return DSERR_BUFFERLOST;
    state_.looping = (flags & DSBPLAY_LOOPING) != 0;
    if (!state_.playing) {
        state_.playing = true;
        engine_->Started(state_);
    }
    return DS_OK;
}

HRESULT SecondaryBuffer::Stop() {
    auto lock = Enter();
    if (state_.playing) {
        state_.playing = false;
        engine_->Stopped(state_);
    }
    return DS_OK;
}

HRESULT SecondaryBuffer::Lock(DWORD offset, DWORD bytes, void** ptr1, DWORD* bytes1, void** ptr2, DWORD* bytes2,
                              DWORD flags) {
    if (ptr1 == nullptr || bytes1 == nullptr) return DSERR_INVALIDPARAM;
    if ((ptr2 == nullptr) != (bytes2 == nullptr)) return DSERR_INVALIDPARAM;
    DWORD write = 0;
    if (flags & DSBLOCK_FROMWRITECURSOR) {
        if (HRESULT hr = GetCurrentPosition(nullptr, &write); FAILED(hr)) return hr;
    }
    auto lock = Enter();
    if (state_.lost) return DSERR_BUFFERLOST;
    const DWORD size = state_.Bytes();
    if (flags & DSBLOCK_ENTIREBUFFER) {
        bytes = size;
        if (!(flags & DSBLOCK_FROMWRITECURSOR)) offset = 0;
    }
    if (flags & DSBLOCK_FROMWRITECURSOR) offset = write;
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;

    const DWORD first = std::min(bytes, size - offset);
    *ptr1 = state_.memory.data() + offset;
    *bytes1 = first;
    if (ptr2 != nullptr) {
        const DWORD second = bytes - first;
        *ptr2 = second > 0 ? state_.memory.data() : nullptr;
        *bytes2 = second;
    }
    ++state_.openLocks;
    return DS_OK;
}

HRESULT SecondaryBuffer::Unlock(void* ptr1, DWORD bytes1, void* ptr2, DWORD bytes2) {
    auto lock = Enter();
    BYTE* base = state_.memory.data();
    const DWORD size = state_.Bytes();
    auto* p1 = static_cast<BYTE*>(ptr1);
    auto* p2 = static_cast<BYTE*>(ptr2);
    const bool firstOk = p1 != nullptr && p1 >= base && p1 < base + size && bytes1 <= size - DWORD(p1 - base);
    const bool secondOk = p2 == nullptr ? bytes2 == 0 : p2 == base && bytes2 <= size;
    if (state_.openLocks == 0 || !firstOk || !secondOk) return DSERR_INVALIDPARAM;
    --state_.openLocks;
    return DS_OK;
}

HRESULT SecondaryBuffer::Restore() {
    auto lock = Enter();
    if (state_.lost) {
        // A restored buffer has lost its contents; it sounds silent until
        // the owner writes it again.
        FillWithSilence();
        state_.lost = false;
    }
    return DS_OK;
}

}  // namespace kiv::sound
