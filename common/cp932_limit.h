#pragma once

class QLineEdit;

namespace hm {

// Keeps box to what a store of maxBytes CP932 bytes holds: typing or pasting past it is cut
// at the last whole character, so the box never shows what would not come back.
void limitCp932Bytes(QLineEdit* box, int maxBytes);

} // namespace hm
