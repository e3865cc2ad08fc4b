#include "property_page.h"

#include <commctrl.h>
#include <prsht.h>

#include "exceptions.h"
#include "resource_ids.h"
#include "tolvane.h"
#include "wavfile.h"

namespace {

// Text i of InformationTexts goes into control IDC_FORMAT + i: the controls
// follow the texts' order, one each, without gaps.
static_assert(IDC_CHANNELS == IDC_FORMAT + 1 && IDC_CHANNEL_MODE == IDC_FORMAT + 2 &&
                  IDC_SAMPLE_RATE == IDC_FORMAT + 3 && IDC_BYTES_PER_SECOND == IDC_FORMAT + 4 &&
                  IDC_BITS_PER_SAMPLE == IDC_FORMAT + 5 && IDC_DURATION == IDC_FORMAT + 6 &&
                  std::tuple_size<TInformationTexts>::value == 7,
              "the value controls must follow the order of the seven texts");

// Reads the header once, when the page's dialog is created; an unreadable or
// refused file leaves the value controls empty.
void ShowFileValues(HWND hwnd, TTolvane& object) {
  const TWAVfile* wav = object.LoadWavFile();
  if (!wav || !wav->Valid)
    return;
  const TInformationTexts texts = InformationTexts(*wav);
  for (size_t i = 0; i < texts.size(); ++i)
    SetDlgItemTextA(hwnd, IDC_FORMAT + static_cast<int>(i), texts[i].c_str());
}

INT_PTR OnInitDialog(HWND hwnd, const PROPSHEETPAGEA& page) {
  auto* object = reinterpret_cast<TTolvane*>(page.lParam);
  SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(object));
  ShowFileValues(hwnd, *object);
  return TRUE;
}

INT_PTR OnNotify(HWND hwnd, const NMHDR& header) {
  switch (header.code) {
  case PSN_APPLY:
    // Nothing to undo once applied: Cancel becomes Close.
    SendMessageA(GetParent(hwnd), PSM_CANCELTOCLOSE, 0, 0);
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, PSNRET_NOERROR);
    return TRUE;
  case PSN_KILLACTIVE:
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, FALSE);
    return TRUE;
  default:
    return FALSE;
  }
}

} // namespace

INT_PTR CALLBACK PropExtDlgProc(HWND hwnd, UINT uMsg, WPARAM, LPARAM lParam) {
  try {
    switch (uMsg) {
    case WM_INITDIALOG:
      return OnInitDialog(hwnd, *reinterpret_cast<const PROPSHEETPAGEA*>(lParam));
    case WM_NOTIFY:
      return OnNotify(hwnd, *reinterpret_cast<const NMHDR*>(lParam));
    default:
      return FALSE;
    }
  } catch (...) {
    ShowCurrentException("PropExtDlgProc", MB_ICONERROR);
    return FALSE;
  }
}
