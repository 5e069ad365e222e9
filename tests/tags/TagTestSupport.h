#pragma once

#include "tags/ID3v2Library.h"
#include "tags/TagBytes.h"

#include <string>

namespace tagbytes {

inline int32_t LoadBytes(TID3v2Tag& tag, const Bytes& bytes) {
    TID3v2MemoryStream stream(bytes.data(), bytes.size());
    return tag.LoadFromStream(stream);
}

inline std::u16string TextOf(const TID3v2Tag& tag, const std::string& id) {
    std::u16string out = u"not cleared";
    tag.GetUnicodeText(id, out);
    return out;
}

inline std::string IdOf(const TID3v2Tag& tag, int32_t index) {
    const auto& id = tag.Frames.at(std::size_t(index))->ID;
    return std::string(id.begin(), id.end());
}

// The text of a lone TIT2 frame with the given body.
inline std::u16string DecodeBody(const Bytes& body) {
    TID3v2Tag tag;
    LoadBytes(tag, Tag(3, {Frame(3, "TIT2", body)}));
    return TextOf(tag, "TIT2");
}

} // namespace tagbytes
