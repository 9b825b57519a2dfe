// Process-wide values of the framework (folders, title, version, product code), their resolution
// at start-up with the portable switch, special folders and ExpandPath's path tokens.
#pragma once

#include <QString>

namespace parvula::framework {

// Every folder ends in the separator "/".
extern QString ExeFolder;
extern QString DocumentFolder;
extern QString SettingsFolder;
extern QString ProductTitle;
extern QString ProductVersion;
extern QString ProductCode;
// -1 until the portable switch has been read (once per process), then its value.
extern qint32 PortableMode;

// What the folder resolution asks of the system; tests hand in their own.
struct TFolderSources {
    QString exeFilePath; // the running executable's full path
    QString documents; // the user's documents, without a final "/"; empty when unknown
    QString roaming; // the user's application settings, without a final "/"; empty when unknown
    QString title; // the application title, used while ProductTitle is empty
};
TFolderSources SystemFolderSources();

// The first call of any framework operation runs this once: the data folders with the default
// application title, and the portable switch. Later calls do nothing. A program that must keep
// its current folder calls it (or FrameworkStartup) first with changeCurrentFolder false.
void FrameworkInitialise(bool changeCurrentFolder = true);
// Called by the program once it has set its title and ProductCode. changeCurrentFolder false
// keeps the current folder (a shell tool resolves its arguments against it).
void FrameworkStartup(bool createFolders, bool changeCurrentFolder = true);
void ResolveDataFolders(bool createFolders);
void ResolveDataFolders(
    bool createFolders, const TFolderSources& sources, bool changeCurrentFolder = true);

// The running executable's full path as the framework knows it, and its file name without folder
// and extension (the settings file's base name and default section).
QString ExeFilePath();
QString ExeBaseName();

// Shell folder numbers: 5 the user's documents, 26 the user's roaming application data, 35 data
// common to all users. The path has no final "/"; unknown numbers and unnamed folders give "".
QString SpecialFolderPath(int folderNumber);
// "doc", "*", "*doc", "app", "dat", "**", "*app", "*dat", "adat", "aapp" (ASCII case ignored).
QString SpecialFolderFor(const QString& token);

// Resolves name against base. base may be a folder, a file (its folder is used) or a token:
// "" and "*" the DocumentFolder, "**" the SettingsFolder, "#p" the ExeFolder. A name beginning
// with "." and holding no "/" is an extension for the executable's base name; leading "../"
// climb from base; a name beginning with "/" is absolute and stays as it is; the empty name is
// the executable's path.
QString ExpandPath(const QString& name, const QString& base);

} // namespace parvula::framework
