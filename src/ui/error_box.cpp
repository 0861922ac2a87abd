#include "ui/error_box.h"

#include "common/platform_compat.h"
#include "common/product_texts.h"

void ShowErrorBox(const WideString& text, UINT style) {
    ::MessageBoxW(nullptr, text.c_str(), kMessageCaption, style | MB_SETFOREGROUND);
}

void ShowPlainErrorBox(const WideString& text, UINT style) {
    ULONG_PTR cookie = 0;
    if (!::ActivateActCtx(ACTCTX_EMPTY, &cookie)) {
        return;
    }
    ShowErrorBox(text, style);
    ::DeactivateActCtx(0, cookie);
}
