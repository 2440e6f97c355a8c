// A document named by the host, read from its file by range.
#pragma once

#include "engine/base/source.h"
#include "platform/win32_api.h"

namespace engine {

// Opens the file and makes `source` read from it. kUnreadable when it
// cannot be opened.
Status OpenFileSource(const WCHAR* name, Source* source);
void CloseFileSource(Source* source);

}  // namespace engine
