#include "sheet_claims.h"

// Why a claim can hide no page but a second one of the same sheet:
// - a claim lasts from AddPages until its page is destroyed; the platform
//   destroys a sheet's pages before the sheet is gone, so a claim never
//   outlives its sheet;
// - while it lasts, its owner is alive (the page holds a reference on it)
//   and holds a reference on the data object, so no other data object can
//   have that address: a later dialog, or another dialog open at the same
//   time, has a data object of its own, whatever addresses its add-page
//   argument or thread reuse;
// - a host that gave one data object to two sheets would still need the
//   same thread, add-page function and argument for both, which describe
//   one sheet being filled;
// - where the key is uncertain (no data object), or no claim can be kept
//   (more pages at once than there is room for), nothing is hidden.
// A key that fails to match only shows the page twice, never hides it.

namespace {

struct TClaim {
  TSheetKey Key;
  const void* Owner; // null: a free place
};

// Pages that exist at one time: one per open Properties dialog, or two.
TClaim Claims[64];
SRWLOCK Guard = SRWLOCK_INIT;

class TExclusiveLock {
public:
  TExclusiveLock() { AcquireSRWLockExclusive(&Guard); }
  ~TExclusiveLock() { ReleaseSRWLockExclusive(&Guard); }
  TExclusiveLock(const TExclusiveLock&) = delete;
  TExclusiveLock& operator=(const TExclusiveLock&) = delete;
};

bool SameSheet(const TSheetKey& a, const TSheetKey& b) {
  return a.Selection && a.Selection == b.Selection && a.Thread == b.Thread &&
         a.AddPage == b.AddPage && a.Sheet == b.Sheet;
}

} // namespace

bool ClaimSheet(const TSheetKey& key, const void* owner) {
  TExclusiveLock lock;
  TClaim* free = nullptr;
  for (TClaim& claim : Claims) {
    if (claim.Owner && claim.Owner != owner && SameSheet(claim.Key, key))
      return false;
    if (!claim.Owner && !free)
      free = &claim;
  }
  if (free)
    *free = {key, owner};
  return true;
}

void DropSheetClaim(const void* owner) noexcept {
  TExclusiveLock lock;
  for (TClaim& claim : Claims)
    if (claim.Owner == owner) {
      claim.Owner = nullptr;
      return;
    }
}
