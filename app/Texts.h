// The program's own texts, every one in this one place. The source is UTF-8;
// the compiler stores each literal in code page 936 (-fexec-charset=GBK),
// which are the bytes the window shows. The window tests compare with these
// same constants.
#pragma once

namespace texts {

// Main window, compact panel
inline constexpr char kIdle[] = "空闲！";
inline constexpr char kReady[] = "准备就绪,请点击开始校验.";
inline constexpr char kInit[] = "正在初始化校验进度……";
inline constexpr char kReading[] = "正在进行全文MD5校验……";
inline constexpr char kFileDone[] = "全文MD5值校验完毕.";
inline constexpr char kFileFailed[] = "全文MD5值校验失败.";
// In the digest box (1001) of a single file that failed or was stopped.
inline constexpr char kFailed[] = "全文MD5值校验失败";
// The failure text padded with blanks to the width of a digest (32 bytes),
// in the row of a list file that failed.
inline constexpr char kFailedRow[] = "全文MD5值校验失败               ";
inline constexpr char kStage0[] = "0/3";
inline constexpr char kStage1[] = "1/3";
inline constexpr char kStage2[] = "2/3";
inline constexpr char kStage3[] = "3/3";
inline constexpr char kCopy[] = "复制";
// Copy with results not yet copied.
inline constexpr char kCopyMarked[] = "复制*";

// Placeholders in the path box (1000) when the list is the target.
inline constexpr char kOneFolder[] = "一个文件夹";
inline constexpr char kSeveral[] = "多个文件夹及文件";

// List panel
inline constexpr char kTotalLabel[] = "总共进度：";
inline constexpr char kCountStart[] = "1000/1000";
inline constexpr char kColumnPath[] = "文件路径";
inline constexpr char kColumnResult[] = "文件属性/全文MD5值";
inline constexpr char kKindFolder[] = "文件夹";
inline constexpr char kKindFile[] = "文件";
inline constexpr char kDropTaking[] = "正在获取文件及文件夹路径……";
inline constexpr char kDropTaken[] = "获取文件及文件夹路径完毕.";
inline constexpr char kWalking[] = "正在初始化文件路径……";
inline constexpr char kWalked[] = "初始化文件路径完毕.";
inline constexpr char kDigesting[] = "正在进行全部文件MD5校验……";
inline constexpr char kListDone[] = "全部文件全文MD5校验完成.";
inline constexpr char kListStopped[] = "全部文件全文MD5校验失败.";
// In the digest box (1001) after a list run: stopped, or completed.
inline constexpr char kListFailed[] = "全部文件全文MD5校验失败";
inline constexpr char kListHint[] = "点击复制全部文件MD5校验值";

// Message boxes
inline constexpr char kNotice[] = "提示信息";
inline constexpr char kPathError[] = "路径错误，文件不存在无法校验！";
inline constexpr char kBusyDrop[] = "程序正在工作，现在拖拽文件无效！";
inline constexpr char kExitQuestion[] = "程序正在工作，您确定要退出程序吗?";
inline constexpr char kCopyQuestion[] =
    "请问您在复制时是希望文件名带路径一起复制，\r\n"
    "还是只复制对应MD5校验值加文件名？\r\n"
    "选择“是”：执行对应MD5校验值加文件名带路径一起复制。\r\n"
    "选择“否”：执行对应MD5校验值只加文件名一起复制。";
inline constexpr char kOutOfMemory[] = "内存不足，校验已停止！";
inline constexpr char kCopyFailed[] = "复制失败，剪贴板可能正被其他程序占用，请稍后再试！";

// The Open dialog's file types: display text and pattern in pairs, each
// zero-terminated; the literal's own zero ends the list.
inline constexpr char kOpenFilter[] =
    "所有文件 (*.*)\0*.*\0"
    "EXE 文件 (*.exe)\0*.exe\0"
    "RAR 文件 (*.rar)\0*.rar\0";

// The notification-area icon's tip.
inline constexpr char kTrayTip[] = "☆Quellin☆";

// The face of the list panel's and the About box links' font (SimSun).
inline constexpr char kFontFace[] = "宋体";

// The results against the digests the user copied (app/ClipboardCheck.cpp):
// a single file's status (1006), and after a list run the digest box (1001).
inline constexpr char kClipMatch[] = "与剪贴板中的MD5值一致.";
inline constexpr char kClipDiffer[] = "与剪贴板中的MD5值不一致!";
inline constexpr char kClipSummary[] = "与剪贴板对照：一致%d个，不一致%d个";

}  // namespace texts
