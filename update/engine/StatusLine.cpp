#include "StatusLine.h"

#include <cstdio>
#include <cstring>

#include "KitText.h"

namespace {

// The name is cut as kit text too: the line is drawn with the window's GB2312 font, which
// reads every byte of it as code page 936.
void CutInto(const char* full, char (&out)[kStatusLineSize]) {
    std::memset(out, 0, sizeof out);
    std::memcpy(out, full, WholeKitCharacters(full, kStatusLineSize - 1));
}

// A verb and the name the line is about, cut alike for every such line.
void FormatNameLine(const char* verb, const char* name, char (&out)[kStatusLineSize]) {
    char full[kStatusLineSize + 64];
    std::snprintf(full, sizeof full, "%s %s", verb, name);
    CutInto(full, out);
}

}  // namespace

void FormatStatusLine(const char* name, char (&out)[kStatusLineSize]) {
    FormatNameLine("正在下载文件", name, out);
}

void FormatCompareLine(const char* name, char (&out)[kStatusLineSize]) {
    FormatNameLine("正在比较文件", name, out);
}

void FormatWaitLine(WaitReason why, DWORD status, const char* name, char (&out)[kStatusLineSize]) {
    const char* reason = nullptr;
    switch (why) {
        case WaitReason::None:
            return FormatStatusLine(name, out);
        case WaitReason::InUse:
            reason = "文件被占用";
            break;
        case WaitReason::AccessDenied:
            reason = "无权写入";
            break;
        case WaitReason::DiskFull:
            reason = "磁盘空间不足";
            break;
        case WaitReason::FolderInTheWay:
            reason = "同名文件夹阻挡";
            break;
        case WaitReason::ServerError:
            reason = "服务器错误";
            break;
        case WaitReason::NoAnswer:
            reason = "服务器无响应";
            break;
        case WaitReason::Incomplete:
            reason = "下载中断";
            break;
        case WaitReason::NotSigned:
            reason = "签名不符";
            break;
        case WaitReason::BadSignature:
            reason = "签名无效";
            break;
        case WaitReason::OlderRelease:
            reason = "版本过旧";
            break;
        case WaitReason::Expired:
            reason = "已过期";
            break;
        case WaitReason::Malformed:
            reason = "格式错误";
            break;
        case WaitReason::KeyInvalid:
            reason = "密钥无效";
            break;
        case WaitReason::KeyMissing:
            reason = "缺少密钥";
            break;
        case WaitReason::KeyUnreadable:
            reason = "无法读取密钥";
            break;
        case WaitReason::OtherVersions:
            reason = "版本不符";
            break;
    }
    char full[kStatusLineSize + 64];
    if (why == WaitReason::ServerError) {
        std::snprintf(full, sizeof full, "%s %lu %s", reason, static_cast<unsigned long>(status),
                      name);
    } else {
        std::snprintf(full, sizeof full, "%s %s", reason, name);
    }
    CutInto(full, out);
}
