// Every outcome of reading, checking and applying a patch, in one table:
//   ZELP_OUTCOME(name, report, exit class, may have written the target,
//                English, Chinese)
// `report` is the program's own text (engine/messages.h), null for a remark
// that only goes beside an outcome. The explanations say what happened in
// the words of the dialog's texts. Included by outcome.h (the enum and the
// report column) and explain.cpp (the explanations), so that the patch
// program carries no explanations it never shows.
// clang-format off
// Words that several rows share.
#define ZELP_CUT_EN u"the patch is damaged: it is cut short (an incomplete download?)"
#define ZELP_CUT_ZH u"补丁已损坏：文件不完整（可能没有下载完）"
#define ZELP_HEADER_CUT_EN u"the patch is damaged: its header is cut short"
#define ZELP_HEADER_CUT_ZH u"补丁已损坏：文件头不完整"
ZELP_OUTCOME(kOk, kMsgSuccess, kExitOk, true,
  u"the patch was applied",
  u"补丁已打上")
ZELP_OUTCOME(kInitFailed, kMsgInitFailed, kExitFailed, false,
  u"the patch cannot be read",
  u"无法读取补丁")
ZELP_OUTCOME(kPatchOpen, kMsgPatchOpen, kExitFailed, false,
  u"cannot open the patch file",
  u"无法打开补丁文件")
ZELP_OUTCOME(kTargetOpen, kMsgTargetOpen, kExitFailed, false,
  u"cannot open the target for writing: it is missing, not a regular file, read-only, or in use",
  u"无法写入目标文件：文件不存在、不是普通文件、只读或正在被使用")
ZELP_OUTCOME(kTargetUnreadable, kMsgTargetOpen, kExitFailed, false,
  u"cannot read the target",
  u"无法读取目标文件")
ZELP_OUTCOME(kJournalStuck, kMsgTargetOpen, kExitFailed, true,
  u"the journal of an interrupted run could not be dealt with; nothing was done",
  u"无法处理上次中断运行留下的日志；未作任何改动")
ZELP_OUTCOME(kIdentShort, kMsgIdentShort, kExitFailed, false,
  u"the patch is damaged: it is too short to hold a header",
  u"补丁已损坏：文件太短，放不下文件头")
ZELP_OUTCOME(kIdentBad, kMsgIdentBad, kExitFailed, false,
  u"the patch is damaged: it does not start with a ZELP identification",
  u"补丁已损坏：开头不是 ZELP 标识")
ZELP_OUTCOME(kOldVersion, kMsgOldVersion, kExitFailed, false,
  u"this is a patch of an older ZELP version, which is not supported",
  u"这是老版本的 ZELP 补丁，不支持")
ZELP_OUTCOME(kUnknownVersion, kMsgUnknownVersion, kExitFailed, false,
  u"this is a patch of an unknown ZELP version",
  u"这是未知版本的 ZELP 补丁")
ZELP_OUTCOME(kTargetSizeField, kMsgHeader1, kExitFailed, false,
  u"the patch is damaged: its header's target size is missing or invalid",
  u"补丁已损坏：文件头中的目标文件大小缺失或无效")
ZELP_OUTCOME(kCrcFieldCut, kMsgHeader2, kExitFailed, false,
  ZELP_HEADER_CUT_EN, ZELP_HEADER_CUT_ZH)
ZELP_OUTCOME(kCrcMismatch, kMsgCrcMismatch, kExitNotTheFile, false,
  u"this is not the file the patch was made for",
  u"这不是补丁对应的文件")
ZELP_OUTCOME(kRecordsFieldCut, kMsgHeader3, kExitFailed, false,
  ZELP_HEADER_CUT_EN, ZELP_HEADER_CUT_ZH)
ZELP_OUTCOME(kRecordsOutside, kMsgHeader4, kExitFailed, false,
  u"the patch is damaged: its records lie outside the file",
  u"补丁已损坏：补丁数据位于文件之外")
ZELP_OUTCOME(kSeekRecords, kMsgSeekRecords, kExitFailed, false,
  u"cannot position the patch file at its records",
  u"无法定位到补丁数据")
ZELP_OUTCOME(kTypeCut, kMsgDamaged5, kExitFailed, false,
  ZELP_CUT_EN, ZELP_CUT_ZH)
ZELP_OUTCOME(kDistanceCut, kMsgDamaged61, kExitFailed, false,
  ZELP_CUT_EN, ZELP_CUT_ZH)
ZELP_OUTCOME(kPositionCut, kMsgDamaged62, kExitFailed, false,
  ZELP_CUT_EN, ZELP_CUT_ZH)
ZELP_OUTCOME(kBadRecordType, kMsgBadRecordType, kExitFailed, false,
  u"the patch is damaged: a record of unknown type",
  u"补丁已损坏：含有未知类型的记录")
ZELP_OUTCOME(kLengthCut, kMsgDamaged7, kExitFailed, false,
  ZELP_CUT_EN, ZELP_CUT_ZH)
ZELP_OUTCOME(kDataCut, kMsgDamaged8, kExitFailed, false,
  ZELP_CUT_EN, ZELP_CUT_ZH)
ZELP_OUTCOME(kUnreachable, kMsgSeekTarget, kExitFailed, false,
  u"the patch is damaged: a record lies at a position no file can have",
  u"补丁已损坏：有记录位于任何文件都达不到的位置")
ZELP_OUTCOME(kResize, kMsgResize, kExitFailed, true,
  u"cannot give the target its new size: the disk may be full",
  u"无法改变目标文件的大小：磁盘空间可能不足")
ZELP_OUTCOME(kSeekTarget, kMsgSeekTarget, kExitFailed, true,
  u"a record lies at a position the target's file system cannot reach",
  u"有记录位于目标文件所在文件系统达不到的位置")
ZELP_OUTCOME(kWriteFailed, kMsgWriteFailed, kExitFailed, true,
  u"writing the target failed (disk full or an I/O error)",
  u"写入目标文件失败（磁盘已满或读写错误）")
ZELP_OUTCOME(kRereadRecords, kMsgSeekRecords, kExitFailed, true,
  u"cannot position the patch file at its records again",
  u"无法再次定位到补丁数据")
ZELP_OUTCOME(kPatchChanged, kMsgDamaged8, kExitFailed, true,
  u"the patch file changed while it was being applied",
  u"打补丁期间补丁文件被改动了")
// Where the patch begins in a file the user names (engine/patch_base.h),
// said after the file's name.
ZELP_OUTCOME(kPatchUnreadable, nullptr, kExitFailed, false,
  u"it cannot be read",
  u"无法读取")
ZELP_OUTCOME(kNotAPatch, nullptr, kExitFailed, false,
  u"it is neither a ZELP patch nor a program that carries one",
  u"既不是 ZELP 补丁，也不是带补丁的程序")
ZELP_OUTCOME(kNoPatchInProgram, nullptr, kExitFailed, false,
  u"it is a ZELP program without a patch",
  u"是不带补丁的 ZELP 程序")
ZELP_OUTCOME(kStampOutside, nullptr, kExitFailed, false,
  u"its patch stamp points outside the file",
  u"其中记录的补丁位置在文件之外")
ZELP_OUTCOME(kManyStamps, nullptr, kExitFailed, false,
  u"the patch stamp marker occurs more than once, so where the patch begins is unclear",
  u"补丁位置标记出现了不止一次，无法确定补丁从哪里开始")
#undef ZELP_CUT_EN
#undef ZELP_CUT_ZH
#undef ZELP_HEADER_CUT_EN
#undef ZELP_HEADER_CUT_ZH
// clang-format on
