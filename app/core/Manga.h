// A parsed comic as a downloader sees it: named fields and the finished flag.
#pragma once

#include <Quillet.h>

namespace Vellix {

class Manga {
public:
    // Index 0 the statistics address (else the page address), 1 the page text, 2 to 6 name,
    // author, cover, introduction and category. False, without calling the sink, for an empty
    // value or an index outside 0 to 6.
    virtual bool GetField(int index, MemObject* sink) = 0;
    // True, with out set, when the comic says whether it is finished.
    virtual bool IsFinished(bool* out) = 0;

protected:
    ~Manga() = default;
};

}  // namespace Vellix
