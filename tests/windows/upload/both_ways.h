// Upload tests run twice: over a form loaded whole (Load) and over the same
// form read from a request in pieces (LoadRequest), which must answer alike.
#pragma once
#include <cstdint>
#include <string>

#include "fake_request.h"
#include "upload_client.h"

enum class Way { kLoad, kLoadRequest };

// "Load" or "LoadRequest", for the test names.
inline std::string WayName(const ::testing::TestParamInfo<Way>& info) {
    return info.param == Way::kLoad ? "Load" : "LoadRequest";
}

// With a temporary folder of its own (m_spool) inside the test's folder
// (m_wdir), so that what a form leaves there can be seen.
class BothWaysTest : public UploadTest, public ::testing::WithParamInterface<Way> {
protected:
    void SetUp() override {
        UploadTest::SetUp();
        m_wdir = std::wstring(m_dir.begin(), m_dir.end());
        m_spool = m_wdir + L"\\spool";
        CreateDirectoryW(m_spool.c_str(), nullptr);
        BSTR bstrFolder = SysAllocString(m_spool.c_str());
        ASSERT_EQ(S_OK, m_pUpload->put_TempFolder(bstrFolder));
        SysFreeString(bstrFolder);
    }
    void TearDown() override {
        if (m_pUpload) m_pUpload->Release();  // the form's temporary files go with it
        m_pUpload = nullptr;
        for (const std::wstring& name : FileNamesIn(m_spool)) DeleteFileW((m_spool + L"\\" + name).c_str());
        RemoveDirectoryW(m_spool.c_str());
        UploadTest::TearDown();
    }

    // The body through the way under test; LoadRequest gets it in pieces of
    // at most cbPiece bytes.
    HRESULT LoadForm(const std::string& body, std::size_t cbPiece = SIZE_MAX) {
        if (GetParam() == Way::kLoad) return Load(body);
        FakeRequest request(body);
        request.cbPiece = cbPiece;
        return m_pUpload->LoadRequest(&request);
    }

    std::wstring m_wdir, m_spool;
};
