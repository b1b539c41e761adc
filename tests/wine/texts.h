// The program's own texts that the window tests compare against, byte for
// byte (the test sources are compiled with the program's code page).
#pragma once

namespace harness {

inline constexpr char kReady[] = "准备就绪,请点击开始校验.";
inline constexpr char kInit[] = "正在初始化校验进度……";
inline constexpr char kReading[] = "正在进行全文MD5校验……";
inline constexpr char kFileDone[] = "全文MD5值校验完毕.";
inline constexpr char kFailed[] = "全文MD5值校验失败";
// The failure text padded with blanks to the width of a digest (32 bytes).
inline constexpr char kFailedRow[] = "全文MD5值校验失败               ";
inline constexpr char kWalking[] = "正在初始化文件路径……";
inline constexpr char kDigesting[] = "正在进行全部文件MD5校验……";
inline constexpr char kDropTaken[] = "获取文件及文件夹路径完毕.";
inline constexpr char kListDone[] = "全部文件全文MD5校验完成.";
inline constexpr char kListStopped[] = "全部文件全文MD5校验失败.";
inline constexpr char kBusyDrop[] = "程序正在工作，现在拖拽文件无效！";
inline constexpr char kExitQuestion[] = "程序正在工作，您确定要退出程序吗?";
inline constexpr char kCopyQuestion[] =
    "请问您在复制时是希望文件名带路径一起复制，\r\n"
    "还是只复制对应MD5校验值加文件名？\r\n"
    "选择“是”：执行对应MD5校验值加文件名带路径一起复制。\r\n"
    "选择“否”：执行对应MD5校验值只加文件名一起复制。";
// MD5 of the empty message.
inline constexpr char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";
// MD5 of 1 GiB of zero bytes (what a sparse file holds), worked out with
// `head -c 1073741824 /dev/zero | md5sum`: the system's provider takes too
// long for gigabytes under Wine.
inline constexpr char kZeros1GiB[] = "cd573cfaace07e7949bc0c46028904ff";
inline constexpr char kListHint[] = "点击复制全部文件MD5校验值";

}  // namespace harness
