/*
 * VardoMSICustomActions: installer custom actions.
 *
 * Every export uses the standard calling convention (__stdcall: the called
 * function removes its arguments), every argument is 32 bits wide on the
 * 32-bit build, and every export is exported under its undecorated name.
 * Each action takes an owner window (may be null) first and returns 1 or 0;
 * text arguments are zero-terminated 8-bit strings in the ANSI code page and
 * a null pointer counts as the empty text.
 */
#ifndef VARDO_MSI_CUSTOM_ACTIONS_H
#define VARDO_MSI_CUSTOM_ACTIONS_H

#include <windows.h>

#ifdef VMSI_BUILDING_LIBRARY
#define VMSI_API
#else
#define VMSI_API __declspec(dllimport)
#endif

#ifdef __cplusplus
#include <string>
extern "C" {
#endif

/* Opens folder\fileName through the shell (verb "open") with the given
 * parameters, in the given folder, and returns at once. 1 when the file
 * exists (whatever the shell answers), 0 when it does not. */
VMSI_API int __stdcall VMSI_Launch(HWND owner, const char* folder, const char* fileName,
                                   const char* parameters);

/* Starts folder\fileName as a program with the given parameters, in the
 * caller's current folder, and waits until it has ended. 1 when the program
 * was started and has ended (its exit code is not examined), 0 when the file
 * does not exist or could not be started. */
VMSI_API int __stdcall VMSI_LaunchWait(HWND owner, const char* folder, const char* fileName,
                                       const char* parameters);

/* Starts the system's registration tool (regsvr32.exe of the system folder)
 * with the command line: regsvr32, options, "folder\fileName" quoted; it does
 * not wait for the tool. 1 when the file exists and the tool was started
 * (whether registration succeeds is not observed), 0 otherwise. */
VMSI_API int __stdcall VMSI_Register(HWND owner, const char* options, const char* folder,
                                     const char* fileName);

/* 1 when HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths has a
 * subkey of that name whose default value is the path of something that
 * exists; 0 otherwise. */
VMSI_API int __stdcall VMSI_CheckIfAppInstalled(HWND owner, const char* programName);

/* 1 when the file is found and its file version (not its product version) is
 * at least first.second.third.fourth; 0 when it is not found, has no readable
 * version or a lower one. With an empty folder the bare file name is looked
 * up along the platform's search order; otherwise only folder\fileName is
 * tested. */
VMSI_API int __stdcall VMSI_CheckVersionOfFile(HWND owner, const char* folder, const char* fileName,
                                               int first, int second, int third, int fourth);

/* Copies the shortcut Programs\programGroup\shortcutFileName of the Start
 * menu onto the desktop, never over an existing file. allUsersMode 0: the
 * current user's folders; 1: all users' folders; 2: all users' folders when
 * the user may write HKLM\Software; any other value, or a folder not
 * registered: the current user's. 1 when the shortcut was copied, 0
 * otherwise. */
VMSI_API int __stdcall VMSI_CreateDesktopShortcut(HWND owner, int allUsersMode,
                                                  const char* programGroup,
                                                  const char* shortcutFileName);

/* Deletes desktop\shortcutFileName, read-only or not, from the desktop that
 * allUsersMode chooses (as for the copy); no other folder is looked at. 1
 * when it was deleted, 0 otherwise. */
VMSI_API int __stdcall VMSI_RemoveDesktopShortcut(HWND owner, int allUsersMode,
                                                  const char* shortcutFileName);

/* Result buffers: VMSI_CheckForQLMKDB and VMSI_CheckForQLMK take a buffer
 * without a size. The caller supplies MAX_PATH (260) bytes, or passes null
 * when it only wants the result; no more than MAX_PATH bytes, terminating
 * zero included, are ever written, and nothing when the result is 0. */

/* Finds the catalogue database pcdb.mdb of an earlier Quillmark or older
 * photo product: five registered installations, then three default folders
 * under the Program Files folder, in a fixed order. 1 when found, its path in
 * databasePath (MAX_PATH bytes); 0 when none is found or its path would not
 * fit, and databasePath is left alone. */
VMSI_API int __stdcall VMSI_CheckForQLMKDB(HWND owner, char* databasePath);

/* Whether Quillmark version `version` is installed: the value "Version" under
 * HKLM\Software\Vardo\QLMKInternalVersion\Version<version>. 1 when it
 * exists, its text in versionText (MAX_PATH bytes, cut to fit; empty when the
 * value is empty); 0 when it does not, and versionText is left alone. */
VMSI_API int __stdcall VMSI_CheckForQLMK(HWND owner, int version, char* versionText);

/* Starts toolFolder\DbMigrate.exe with the parameters
 * -i -o "<oldCatalogue>" -n "<newFolder>\<newFileName>" and waits until it
 * has ended, as VMSI_LaunchWait does. 1 when the tool ran (its exit code is
 * not examined), 0 when it is missing or could not be started. */
VMSI_API int __stdcall VMSI_LaunchDbMigrate(HWND owner, const char* toolFolder,
                                            const char* oldCatalogue, const char* newFolder,
                                            const char* newFileName);

/* Creates or replaces baseFolder\fileFolder\favorite.txt holding the one
 * line baseFolder\favourite followed by CR LF. Creates no folder. 1 when the
 * line was written; 0 when the file could not be created or written. */
VMSI_API int __stdcall VMSI_WriteFavorites(HWND owner, const char* baseFolder,
                                           const char* fileFolder, const char* favourite);

/* Deletes the files directly in parentFolder\cacheFolderName and then the
 * folder; subfolders and files in use stay. The name must lie below the
 * parent (no drive, no leading separator, no ".."), and a cache folder that
 * is a junction or symbolic link is left alone. Always returns 0. */
VMSI_API int __stdcall VMSI_RemoveQLMKCache(HWND owner, const char* parentFolder,
                                            const char* cacheFolderName);

#ifdef __cplusplus
} /* extern "C" */

/* Copies the library's full path and its file version ("a.b.c.d", empty
 * when the file has no version resource) into the two texts. The texts are
 * the std::string of the toolchain that built the library (mingw-w64 g++
 * with libstdc++); a caller must use the same text type, so this export is
 * declared for C++ callers built with that toolchain only. */
extern "C" VMSI_API void __stdcall GetDLLNameAndVersion(std::string& modulePath,
                                                        std::string& moduleVersion);
#endif

#endif /* VARDO_MSI_CUSTOM_ACTIONS_H */
