// The engine's edge: everything that opens files by name, shared by the
// command line and the dialog program. The core works on open files only;
// the browser build leaves this out.
#pragma once

#include <cstdint>
#include <string>

#include "engine/journal.h"
#include "engine/outcome.h"
#include "file/file.h"

namespace zelp {

// Where the patch in the file at `path` begins (FindPatchBase); kPatchOpen
// when it cannot be opened.
Outcome FindPatchBaseOf(const std::u16string& path, uint64_t& base);

}  // namespace zelp
