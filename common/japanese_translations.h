#pragma once

namespace hm {
// Loads Qt's own Japanese texts (はい / いいえ / キャンセル, the file and print dialogs) whatever
// the desktop's locale. Call once after the application object exists; false when the
// translation files are not installed (the standard texts then stay in English).
bool installJapaneseTranslations();
} // namespace hm
