// Every text the engine shows, exactly as users and their documentation know
// them (including the doubled parenthesis of kMsgDamaged7).
#pragma once

namespace zelp {

constexpr const char16_t* kMsgInitFailed = u"初始化失败";
constexpr const char16_t* kMsgSuccess = u"补丁成功";

// The record stream.
constexpr const char16_t* kMsgDamaged5 = u"打补丁失败\n补丁文件已损坏(5)";
constexpr const char16_t* kMsgDamaged61 = u"打补丁失败\n补丁文件已损坏(6.1)";
constexpr const char16_t* kMsgDamaged62 = u"打补丁失败\n补丁文件已损坏(6.2)";
constexpr const char16_t* kMsgBadRecordType = u"非法的ZELP补丁文件(2)";
constexpr const char16_t* kMsgDamaged7 = u"打补丁失败\n补丁文件已损坏(7))";
constexpr const char16_t* kMsgDamaged8 = u"打补丁失败\n补丁文件已损坏(8)";
constexpr const char16_t* kMsgSeekTarget = u"打补丁失败\n设置ROM文件位置失败";
constexpr const char16_t* kMsgWriteFailed = u"打补丁失败\n写数据失败";

// The application procedure.
constexpr const char16_t* kMsgPatchOpen = u"补丁文件打开失败";
constexpr const char16_t* kMsgTargetOpen = u"目标文件打开失败";
constexpr const char16_t* kMsgIdentShort = u"ZELP补丁文件已经损坏(1)";
constexpr const char16_t* kMsgIdentBad = u"ZELP补丁文件已经损坏(2)";
constexpr const char16_t* kMsgOldVersion = u"暂不支持老版本的ZELP补丁文件";
constexpr const char16_t* kMsgUnknownVersion = u"未知版本的ZELP补丁文件";
constexpr const char16_t* kMsgHeader1 = u"补丁文件已损坏(1)";
constexpr const char16_t* kMsgHeader2 = u"补丁文件已损坏(2)";
constexpr const char16_t* kMsgCrcMismatch = u"目标文件没有通过CRC32验证";
constexpr const char16_t* kMsgHeader3 = u"补丁文件已损坏(3)";
constexpr const char16_t* kMsgHeader4 = u"补丁文件已损坏(4)";
constexpr const char16_t* kMsgResize = u"改变文件大小失败,可能是磁盘容量不足";
constexpr const char16_t* kMsgSeekRecords = u"设置文件指针错误(1)";

}  // namespace zelp
