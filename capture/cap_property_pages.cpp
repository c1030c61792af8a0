// The camera's own settings: the driver's legacy dialogs when it has them,
// otherwise the capture filter's property pages in a property frame.
#include "capture/cap_zephra.h"

#include "capture/capture_texts.h"
#include "platform/media/media_object.h"
#include "platform/media/media_platform.h"

using namespace media;

namespace {

// The filter's property pages, when it offers them (exactly S_OK).
bool GetPropertyPages(IBaseFilter* filter, CAUUID* pages, HRESULT* result) {
    ComPtr<ISpecifyPropertyPages> specify;
    *result = filter->QueryInterface(IID_ISpecifyPropertyPages, specify.OutVoid());
    if (*result != S_OK) return false;
    *result = specify->GetPages(pages);
    return true;
}

}  // namespace

int CCapZephra::HasPropertyPage(int dialog) {
    if (m_pVfwDialogs) return SUCCEEDED(m_pVfwDialogs->HasDialog(dialog)) ? 1 : 0;
    if (!m_pCapFilter) return 0;
    CAUUID pages{};
    HRESULT result;
    if (!GetPropertyPages(m_pCapFilter, &pages, &result)) return 0;
    CoTaskMemFree(pages.pElems);
    return pages.cElems > 0 ? 1 : 0;
}

int CCapZephra::ShowPropertyPage(HWND parent, int dialog) {
    if (m_pVfwDialogs) {
        // The driver's dialogs need a stopped graph; capture resumes after
        // the dialog closes, as the engine still counts local video as on.
        const bool wasRunning = m_bRunning != 0;
        if (m_bRunning && m_pControl && SUCCEEDED(m_pControl->Stop())) m_bRunning = 0;
        HRESULT shown = S_OK;
        if (SUCCEEDED(m_pVfwDialogs->HasDialog(dialog))) shown = m_pVfwDialogs->ShowDialog(dialog, parent);
        if (wasRunning && !m_bRunning) StartCapture();
        return FAILED(shown) ? 0 : 1;
    }
    if (!m_pCapFilter) return 0;
    CAUUID pages{};
    HRESULT result;
    if (GetPropertyPages(m_pCapFilter, &pages, &result) && SUCCEEDED(result) && pages.cElems > 0) {
        ITavolinUnknown* object = m_pCapFilter;
        result = OleCreatePropertyFrame(parent, kPropertyFrameX, kPropertyFrameY, capture_texts::kPropertyFrameCaption,
                                        1, &object, pages.cElems, pages.pElems, 0);
    }
    CoTaskMemFree(pages.pElems);
    return SUCCEEDED(result) ? 1 : 0;
}
