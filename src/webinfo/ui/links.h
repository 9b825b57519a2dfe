// Outbound links and small texts of the main window: homepage, donation page, help, version.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QLabel;

namespace parvula::webinfo {

// The maker's homepage (a bare host address) and the donation page's address up to its query
// value ("…/donate/?text="), as fixed when the program was built.
QString HomepageURL();
QByteArray DonationURL();

// The caption of the homepage link.
inline constexpr const char* kHomepageCaption = "Tervaso Raruzirize";
// The version label's right edge, in its parent's coordinates, and its top.
inline constexpr int kVersionLabelRight = 485;
inline constexpr int kVersionLabelTop = 108;

// Opens a document or web address with the user's default program. The empty target does
// nothing and gives 0; otherwise 1 when something was opened and 0 when not. Failures are
// never reported. Parameters are passed on only where the platform can take them.
int ShellOpen(const QString& target, const QString& parameters = QString());

// DonationURL followed by the URL-encoded title (spaces as "%20").
QString DonationAddress(const QString& title);
// Opens DonationAddress of the application title.
void OpenDonationPage(const QString& title);

// The nine lines of the help text (the main window's HelpList items).
QStringList HelpLines();
// The lines joined, each followed by CR LF, the last one included.
QString HelpText(const QStringList& lines);
// Shows HelpText of the lines in the information dialog.
void ShowHelp(const QStringList& lines);

// "v " + version + " beta".
QString VersionCaption(const QString& version);
// Sets the caption and sizes the label to it, right-aligned so its right edge stays at
// kVersionLabelRight.
void SetVersionLabel(QLabel* label, const QString& version);
// Caption, hint (the homepage's address), underlined 11-pixel Tahoma, link colours.
void SetupHomeLink(QLabel* label);

} // namespace parvula::webinfo
