#include "ui/dialog_mark.h"

namespace zelp {

const volatile unsigned char g_dialogMark[16] = {'Z', 'E', 'L', 'P', '-',  'D',  'I',  'A',
                                                 'L', 'O', 'G', '-', 0xD1, 0xA7, 0x6B, 0x2E};

}  // namespace zelp
