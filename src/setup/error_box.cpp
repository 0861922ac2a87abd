#include "setup/error_box.h"

#include "common/product_texts.h"

void ShowErrorBox(const WideString& text, UINT style) {
    ::MessageBoxW(nullptr, text.c_str(), kMessageCaption, style | MB_SETFOREGROUND);
}
