// ftpui: the small window helpers the FTP login and transfer windows share (input box, message,
// window lookup and placement, local paths as bytes).
#pragma once

#include <QString>

#include <string>

class QWidget;

namespace ftpui {

// The program's input box: title, prompt, an empty default; the answer, or empty when cancelled.
QString InputBox(QWidget* parent, const QString& title, const QString& prompt);
// A plain message with an OK button.
void ShowMessage(QWidget* parent, const QString& text);
// The open window (shown or hidden) whose component name is name, or null.
QWidget* FindWindow(const QString& name);
// Puts a window in the middle of the screen.
void CenterOnScreen(QWidget* window);
// Shows a window and brings it to the front.
void ShowWindow(QWidget* window);
// Local paths as the engine takes them (bytes) and back.
std::string LocalBytes(const QString& path);
QString LocalText(const std::string& path);

}  // namespace ftpui
