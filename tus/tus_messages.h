// VARO.Resumable's messages for the page (Err.Description). The protocol's
// own answers go to the client as statuses; these are the page's faults.
#pragma once

namespace TusMsg {
constexpr wchar_t kNoFolder[] = L"Folder にアップロードを保存するフォルダーを指定してください。";
constexpr wchar_t kFolderMissing[] = L"Folder のフォルダー「%s」がありません。";
constexpr wchar_t kNotRequest[] =
    L"Handle の 1 番目の引数には Request オブジェクト (ServerVariables と BinaryRead を持つオブジェクト) を渡してください。";
constexpr wchar_t kNotResponse[] =
    L"Handle の 2 番目の引数には Response オブジェクト (Status と AddHeader を持つオブジェクト) を渡してください。";
constexpr wchar_t kVariableFailed[] = L"Request.ServerVariables(\"%s\") が失敗しました。";
constexpr wchar_t kResponseFailed[] = L"Response に状態コードかヘッダーを書けませんでした (コード 0x%08lX)。";
constexpr wchar_t kBadExpires[] = L"Expires には 0 以上の分数を指定してください。";
constexpr wchar_t kNotComplete[] = L"アップロードはまだ終わっていません。File は受け取り終えたアップロードにだけ使えます。";
constexpr wchar_t kNoUpload[] = L"アップロードがありません。Handle か Open のあとに使ってください。";
constexpr wchar_t kUnknownUpload[] = L"ID「%s」のアップロードはありません (期限切れか、保存済みか、ID が正しくありません)。";
constexpr wchar_t kUploadBusy[] = L"アップロードは書き込み中です。受け取り終えてから File か Open を使ってください。";
constexpr wchar_t kStoreFileOpen[] = L"アップロードされたファイルを開けませんでした。";
constexpr wchar_t kStoreFailed[] = L"アップロードの記録を読めませんでした。";
}  // namespace TusMsg
