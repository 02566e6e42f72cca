// Binding of the libraries the MP3 codec loads by name at run time: the MP3
// encoder library and the MPEG audio decoder library. Every entry point is
// resolved when the library is bound, so a missing one makes the component
// unavailable at creation instead of failing halfway through a file.
#pragma once

#include "runtime/lame_enc/lame_enc.h"
#include "runtime/mpglib/mpglib.h"

namespace kiv::mp3 {

enum class BindStatus {
    bound,
    notLoaded,     // the library file could not be loaded
    entryMissing,  // it lacks one of the entry points
};

struct LameEntryPoints {
    lame_enc::PFN_beInitStream initStream = nullptr;
    lame_enc::PFN_beEncodeChunk encodeChunk = nullptr;
    lame_enc::PFN_beDeinitStream deinitStream = nullptr;
    lame_enc::PFN_beCloseStream closeStream = nullptr;
    lame_enc::PFN_beVersion version = nullptr;
    lame_enc::PFN_beWriteVBRHeader writeVbrHeader = nullptr;
};

struct MpglibEntryPoints {
    mpglib::PFN_InitMP3 init = nullptr;
    mpglib::PFN_decodeMP3 decode = nullptr;
    mpglib::PFN_ExitMP3 exit = nullptr;
};

// Loads a library by its bare file name, the way the system finds libraries:
// the search path, which for a module built with RUNPATH $ORIGIN includes
// the module's own folder. Should the search miss, the folder of the module
// that holds this code is tried by full path, so a module copied elsewhere
// with its libraries beside it still finds them. The handle is never
// closed: the libraries stay for the life of the process. nullptr when the
// file cannot be loaded.
void* LoadRuntimeLibrary(const char* fileName);

// Loads fileName and resolves the six encoder entry points from it.
BindStatus LoadLameLibrary(const char* fileName, LameEntryPoints& out);
// Loads fileName and resolves the three decoder entry points ("DecodeMP3"
// first, then "decodeMP3").
BindStatus LoadMpglibLibrary(const char* fileName, MpglibEntryPoints& out);

// The process-wide bindings, made by the first creation that succeeds. A
// failed attempt leaves nothing bound, so the next creation tries again.
// On success `entries` points at entry points that stay valid for the life
// of the process.
BindStatus BindLame(const LameEntryPoints*& entries);
BindStatus BindMpglib(const MpglibEntryPoints*& entries);

}  // namespace kiv::mp3
