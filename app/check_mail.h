#pragma once

class MainForm;

// Downloads every waiting message: each is stored in the received store and only then
// marked for deletion on the server; the result is reported in the main window. Does nothing
// while a check is running already.
void CheckMail(MainForm& main);
bool MailCheckRunning();
