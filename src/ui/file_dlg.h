// A wrapper over the common file dialogs for UTF-16 paths: it owns the
// buffers the platform request points to and takes the filter as
// "description|pattern|" pairs.
#pragma once

#include <windows.h>
// after windows.h, which it needs
#include <commdlg.h>

class KOVA_FileDlgW {
 public:
  // openFlag: non-zero for an open-file chooser, 0 for save-as.
  // defaultExtension: referenced, not copied; may be null.
  // initialName: copied; may be null; shorter than the capacity.
  // filter: "description|pattern|" pairs, null for all files.
  // capacity: file buffer units, raised to at least 260.
  // flags: OFN_* bits added to the ones always set.
  KOVA_FileDlgW(int openFlag, const wchar_t* defaultExtension, const wchar_t* initialName,
                const wchar_t* filter, DWORD capacity, DWORD flags);
  virtual ~KOVA_FileDlgW();
  KOVA_FileDlgW(const KOVA_FileDlgW&) = delete;
  KOVA_FileDlgW& operator=(const KOVA_FileDlgW&) = delete;

  // 1 when the user confirmed a choice, 2 when cancelled or refused.
  virtual int ShowModal();
  // Copies the chosen path into `out` (at least the capacity); returns 1.
  // With multiple selection, the first of the chosen files.
  int GetChosenPath(wchar_t* out);

  int openFlag;
  wchar_t fileTitle[260];
  wchar_t* fileBuffer;
  wchar_t* filterBuffer;
  wchar_t* currentName;  // only meaningful with multiple selection
  OPENFILENAMEW request;
};
