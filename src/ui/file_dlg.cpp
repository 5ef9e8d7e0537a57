#include "ui/file_dlg.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD kMinCapacity = 260;
constexpr wchar_t kAllFiles[] = L"所有文件|*.*|";
constexpr size_t kAllFilesUnits = 20;

// The full request record exists from Windows 2000 on; older systems take
// the record without its trailing fields.
DWORD RequestSize() {
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  if (GetVersionExW(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion >= 5)
    return sizeof(OPENFILENAMEW);
  return OPENFILENAME_SIZE_VERSION_400W;
}

// The request asks for a hook (which keeps the classic chooser the program
// was made with); a hook that leaves every message to the chooser is given so
// that no system can refuse the request for want of one.
UINT_PTR CALLBACK PassThroughHook(HWND, UINT, WPARAM, LPARAM) { return 0; }

}  // namespace

KOVA_FileDlgW::KOVA_FileDlgW(int openFlag_, const wchar_t* defaultExtension,
                             const wchar_t* initialName, const wchar_t* filter, DWORD capacity,
                             DWORD flags)
    : openFlag(openFlag_),
      fileTitle{},
      fileBuffer(nullptr),
      filterBuffer(nullptr),
      currentName(nullptr),
      request{} {
  if (capacity < kMinCapacity) capacity = kMinCapacity;

  DWORD size = RequestSize();
  std::memset(&request, 0, size);
  request.lStructSize = size;

  fileBuffer = new wchar_t[capacity];
  fileBuffer[0] = 0;
  currentName = fileBuffer;
  fileTitle[0] = 0;

  request.lpstrFile = fileBuffer;
  request.nMaxFile = capacity;
  request.lpstrDefExt = defaultExtension;
  request.lpstrFileTitle = fileTitle;
  request.nMaxFileTitle = 260;
  request.Flags = flags | OFN_ENABLEHOOK | OFN_EXPLORER;
  request.lpfnHook = PassThroughHook;
  if (flags & OFN_ENABLETEMPLATE) request.Flags &= ~static_cast<DWORD>(OFN_ENABLESIZING);

  if (initialName) std::wcscpy(fileBuffer, initialName);

  // The platform wants NUL-separated pairs ended by an extra NUL: every '|'
  // becomes a NUL, and the final one supplies the extra terminator.
  size_t units = filter ? std::wcslen(filter) + 1 : kAllFilesUnits;
  filterBuffer = new wchar_t[units];
  std::wcscpy(filterBuffer, filter ? filter : kAllFiles);
  size_t length = std::wcslen(filterBuffer);
  for (size_t i = 0; i < length; ++i) {
    if (filterBuffer[i] == L'|') filterBuffer[i] = 0;
  }
  request.lpstrFilter = filterBuffer;
}

KOVA_FileDlgW::~KOVA_FileDlgW() {
  delete[] fileBuffer;
  delete[] filterBuffer;
}

int KOVA_FileDlgW::ShowModal() {
  request.hwndOwner = GetFocus();
  currentName = fileBuffer;
  BOOL chosen = openFlag ? GetOpenFileNameW(&request) : GetSaveFileNameW(&request);
  return chosen ? 1 : 2;
}

int KOVA_FileDlgW::GetChosenPath(wchar_t* out) {
  out[0] = 0;
  std::wcscpy(out, fileBuffer);
  // With multiple selection several names come after their folder, each
  // ended by a NUL: the first one is the choice. (A single name arrives as
  // a full path, as without multiple selection.)
  WORD at = request.nFileOffset;
  if ((request.Flags & OFN_ALLOWMULTISELECT) && at > 0 && at < request.nMaxFile &&
      fileBuffer[at - 1] == 0 && fileBuffer[at] != 0) {
    size_t len = std::wcslen(out);
    if (len > 0 && out[len - 1] != L'\\') out[len++] = L'\\';
    std::wcscpy(out + len, fileBuffer + at);
  }
  return 1;
}
