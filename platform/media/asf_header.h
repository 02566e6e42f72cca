// The attribute objects of an ASF header, read and written by us: FFmpeg
// merges attributes of one name when it writes a file and keeps only the
// last of them when it reads one, so repeated attributes (two "Author"s for
// two artists) and large binary ones (pictures) are our own work.
//
// Where an attribute goes, as the usual taggers place them: the first
// "Title", "Author", "Copyright", "Description" and "Rating" text in the
// content description; the first attribute of any other name in the
// extended content description when its value fits a 16-bit length and is
// not a GUID; everything else (repeats, large values, GUIDs) in the
// metadata library inside the header extension. Readers that take one
// value per name (FFmpeg, many players) thus see the first one.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "platform/media/header_attributes.h"

namespace kiv::media::asf {

// The first bytes of a file, up to the end of its header object: at most
// `limit` bytes, never more than `read` delivers (it reads on from where
// it stopped and answers 0 at the end). Empty when the file does not begin
// with a header object.
std::vector<BYTE> ReadHeaderObject(const std::function<std::size_t(BYTE* buffer, std::size_t size)>& read,
                                   std::size_t limit);

// Appends the file-level attributes of the header object in `header` to
// `out`: the content description, the extended content description and the
// metadata and metadata library objects (those inside the header extension
// included), in that order, each in file order; an extended attribute that
// repeats a content description value exactly (FFmpeg writes the title and
// the author in both) is read once. Only the bytes given are
// read, whatever sizes the header claims: an object running past its
// parent, or a field past its object, ends the reading of that object and
// keeps what came before it; an attribute whose value does not fit its
// type is passed over. False when `header` does not begin with a header
// object.
bool ReadAttributes(std::span<const BYTE> header, HeaderAttributes& out);

// The header object `header` with `attributes` as its attribute objects in
// place of the ones it holds (its other objects are kept in their order),
// and its file size set for a file of the new header and `tailSize` bytes
// after it. NS_E_INVALID_DATA when `header` is not a well-formed header
// object with its file properties.
HRESULT BuildHeader(std::span<const BYTE> header, const HeaderAttributes& attributes, QWORD tailSize,
                    std::vector<BYTE>& out);

// Rewrites the header of the complete ASF file open for reading and writing
// on `fd` with `attributes` (BuildHeader), moving what follows the header
// to its new place. A system failure is returned as HRESULT_FROM_WIN32 of
// its errno; the file is then damaged.
HRESULT RewriteAttributes(int fd, const HeaderAttributes& attributes);

}  // namespace kiv::media::asf
