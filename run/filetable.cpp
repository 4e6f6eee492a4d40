// The file table's size; see filetable.h.
#include "filetable.h"

#include "listfile.h"  // SUPPORT_SLOT_SIZE

uint32_t FileTableBytes(uint32_t slots) {
  if (slots > 0x7FFFFFFFu / SUPPORT_SLOT_SIZE) return 0;
  return slots * SUPPORT_SLOT_SIZE;
}
