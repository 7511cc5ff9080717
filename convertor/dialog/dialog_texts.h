// Every text the converter's windows show, in one place, exactly as users
// see them. The job's own messages live with the job.
#pragma once

namespace qrxc::ui {

inline constexpr const char *APP_NAME = "QRXConvertor";  // also every message box's caption

inline constexpr const char *BUTTON_OPEN = "OPEN";
inline constexpr const char *BUTTON_CONVERT = "CONVERT";
inline constexpr const char *BUTTON_CLOSE = "CLOSE";
inline constexpr const char *LABEL_PATH = "PATH";
inline constexpr const char *NO_PATH = "-";

// String 101: the About entry, whose &A is the mnemonic.
inline constexpr const char *MENU_ABOUT = "QRXConvertor 정보(&A)...";

inline constexpr const char *ABOUT_CAPTION = "QRXConvertor 정보";
inline constexpr const char *ABOUT_VERSION = "QRXConvertor 버전 1.0";
inline constexpr const char *ABOUT_OK = "확인";
// Below the version: the codec library actually loaded, "qrxc 1.2.0".
inline constexpr const char *ABOUT_LIBRARY = "qrxc %1";

// Asked before CONVERT replaces a file that is already there; %1 is the output path.
inline constexpr const char *REPLACE_QUESTION = "Replace %1?";

inline constexpr const char *OPEN_FILTER = "QRX File(*.QRX)";
inline constexpr const char *OPEN_SUFFIX = "QRX";

}  // namespace qrxc::ui
