#pragma once

namespace hm {

// Mail is private: every file and folder the program creates from now on is readable by its
// owner only, and the mail already kept in the program folder (stores, address book, account
// file, attachments, .eml copies, quick saves) is made so. Called at start-up once the program
// folder is settled; tests call it too.
void keepMailPrivate();

} // namespace hm
