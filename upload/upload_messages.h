// The messages VARO.Upload publishes, in the style of WebMng's.
#pragma once

namespace UploadMsg {
constexpr wchar_t kNotByteArray[] = L"配列型ではありません。Load にはリクエスト本文のバイト配列を渡してください。";
constexpr wchar_t kNotMultipart[] =
    L"multipart/form-data の本文ではありません。本文が区切り行で始まっていません。";
constexpr wchar_t kBadLineEndings[] =
    L"multipart/form-data の本文ではありません。区切り行かヘッダー行の行末が CR LF ではありません。";
constexpr wchar_t kBadHeaders[] =
    L"multipart/form-data の本文ではありません。パートのヘッダーが空行で終わっていません。";
constexpr wchar_t kNoClosingLine[] =
    L"multipart/form-data の本文ではありません。終わりの区切り行がありません。";
constexpr wchar_t kTooManyParts[] = L"パートの数が MaxParts (%ld) を超えています。";
constexpr wchar_t kWorkMemory[] = L"作業領域メモリを確保できませんでした。";
constexpr wchar_t kBadCodePage[] = L"コードページ %ld はこのサーバーでは使えません。";
constexpr wchar_t kBadMaxParts[] = L"MaxParts には 0 以上の数を指定してください。";
constexpr wchar_t kItemNameNull[] = L"アイテム名がNULLです。";
constexpr wchar_t kFileNameNull[] = L"ファイル名がNULLです。";
constexpr wchar_t kPathNameNull[] = L"パス名がNULLです。";
constexpr wchar_t kSaveFailed[] = L"ファイルを保存できませんでした。";
}  // namespace UploadMsg
