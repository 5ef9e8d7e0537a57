#include "file/out_file.h"

namespace zelp {

Bilingual CreateFaultText(CreateFault fault, const std::u16string& path) {
  switch (fault) {
    case CreateFault::kSpool:
      return {u"cannot create a temporary file for standard output", u"无法为标准输出创建临时文件"};
    case CreateFault::kCannot: break;
    case CreateFault::kNoFolder:
      return Fill2(u"cannot create '{0}': its folder does not exist",
                   u"无法创建 '{0}'：所在的文件夹不存在", {path});
    case CreateFault::kNotRegular:
      return Fill2(
          u"cannot create '{0}': it is not a regular file (a folder, a device, a pipe "
          u"or a broken link)",
          u"无法创建 '{0}'：它不是普通文件（是文件夹、设备、管道或失效的链接）", {path});
  }
  return Fill2(u"cannot create '{0}'", u"无法创建 '{0}'", {path});
}

}  // namespace zelp
