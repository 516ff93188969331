// Every message the classes publish, written once. Some are wsprintfW
// formats (%ld, %s, %08lX); the rest hold no '%'.
#pragma once

namespace Msg {
// Both classes.
constexpr wchar_t kWorkMemory[] = L"作業領域メモリを確保できませんでした。";
constexpr wchar_t kItemNameNull[] = L"アイテム名がNULLです。";
constexpr wchar_t kFileNameNull[] = L"ファイル名がNULLです。";
constexpr wchar_t kPathNameNull[] = L"パス名がNULLです。";

// WebMng.
constexpr wchar_t kFileDeleteFailed[] = L"ファイルの削除が失敗しました。";
constexpr wchar_t kException[] = L"例外エラー";
constexpr wchar_t kSystemError[] = L"システムエラー";
constexpr wchar_t kNotArrayType[] = L"配列型ではありません。";
constexpr wchar_t kFileOpenError[] = L"ファイルオープンエラー";
constexpr wchar_t kFileWriteError[] = L"ファイル書き込みエラー";
constexpr wchar_t kFileReadError[] = L"ファイル読み込みエラー";
constexpr wchar_t kGuidError[] = L"GUIDの生成エラー";

// VARO.Upload: Load and the form's members.
constexpr wchar_t kNotByteArray[] = L"配列型ではありません。Load にはリクエスト本文のバイト配列を渡してください。";
constexpr wchar_t kNotMultipart[] =
    L"multipart/form-data の本文ではありません。本文が区切り行で始まっていません。";
constexpr wchar_t kBadLineEndings[] =
    L"multipart/form-data の本文ではありません。区切り行かヘッダー行の行末が CR LF ではありません。";
constexpr wchar_t kBadHeaders[] =
    L"multipart/form-data の本文ではありません。パートのヘッダーが空行で終わっていません。";
constexpr wchar_t kNoClosingLine[] =
    L"multipart/form-data の本文ではありません。終わりの区切り行がありません。";
constexpr wchar_t kLineTooLong[] =
    L"multipart/form-data の本文ではありません。区切り行かパートのヘッダーが長すぎます (64 KB まで)。";
constexpr wchar_t kBoundaryMismatch[] =
    L"multipart/form-data の本文ではありません。本文の最初の行が Content-Type の boundary と一致しません。";
constexpr wchar_t kTooManyParts[] = L"パートの数が MaxParts (%ld) を超えています。";
constexpr wchar_t kPartTooLarge[] = L"4 GB 以上のパートは読み込めません。";
constexpr wchar_t kBadCodePage[] = L"コードページ %ld はこのサーバーでは使えません。";
constexpr wchar_t kBadMaxParts[] = L"MaxParts には 0 以上の数を指定してください。";

// VARO.Upload: saving a file.
constexpr wchar_t kSaveFailed[] = L"ファイルを保存できませんでした。";
constexpr wchar_t kSaveToDevice[] =
    L"保存先がディスク上のファイルではなくデバイスです。CON、NUL、COM1 などの名前を含まないファイルのパスを指定してください。";
constexpr wchar_t kSaveToStream[] =
    L"保存先のパスにドライブ名のほかの「:」があります (ファイルのストリーム)。「:」を含まないファイルのパスを指定してください。";
constexpr wchar_t kPathHasZero[] =
    L"パスに NUL 文字 (U+0000) が含まれています。NUL を含まないパスを指定してください。";
constexpr wchar_t kSavedFileChanged[] =
    L"アップロードされたファイルを読めません。保存したファイルが保存の直後に変更されたか置き換えられました。";

// VARO.Upload: LoadRequest.
constexpr wchar_t kNotRequest[] =
    L"LoadRequest には Request オブジェクト (TotalBytes と BinaryRead を持つオブジェクト) を渡してください。";
constexpr wchar_t kBadTotalBytes[] = L"Request.TotalBytes が本文のバイト数を返しませんでした。";
constexpr wchar_t kBinaryReadFailed[] = L"Request.BinaryRead が失敗しました (コード 0x%08lX)。";
constexpr wchar_t kBinaryReadNotBytes[] = L"Request.BinaryRead がバイト配列を返しませんでした。";
constexpr wchar_t kEndedEarly[] =
    L"リクエスト本文が途中で終わりました (%s / %s バイト)。クライアントが送信を中止した可能性があります。";
constexpr wchar_t kMaxBytes[] = L"リクエスト本文 (%s バイト) が MaxBytes (%s バイト) を超えています。";
constexpr wchar_t kMaxFileBytes[] = L"ファイルが MaxFileBytes (%s バイト) を超えています。";
constexpr wchar_t kMaxFieldBytes[] = L"フィールドの値が MaxFieldBytes (%s バイト) を超えています。";
constexpr wchar_t kBadLimit[] = L"%s には 0 以上の数を指定してください。";
constexpr wchar_t kLimitNotWhole[] = L"%s にはバイト数を整数で指定してください。";
constexpr wchar_t kTempFileCreate[] = L"TempFolder に一時ファイルを作成できませんでした。";
constexpr wchar_t kTempFileWrite[] = L"一時ファイルに書き込めませんでした。";
constexpr wchar_t kBadProgressId[] = L"ProgressID には 1 から 64 文字の英数字と - だけを指定してください。";
constexpr wchar_t kTempFileRead[] = L"アップロードされたファイルを読み込めませんでした。";

// What a file is.
constexpr wchar_t kBadHashAlgorithm[] =
    L"ハッシュのアルゴリズム「%s」は使えません。SHA256、SHA1、MD5 のどれかを指定してください。";
constexpr wchar_t kHashFailed[] = L"ファイルのハッシュを計算できませんでした。";
constexpr wchar_t kTypeNotAllowed[] =
    L"ファイル「%s」の種類 (%s) は受け付けていません。AllowedTypes にある種類のファイルを送ってください。";
constexpr wchar_t kUnknownType[] = L"不明";
constexpr wchar_t kBadOverwrite[] = L"SaveAs の 2 番目の引数には True か False を指定してください。";

// A system failure's own words after a message: "message (system text コード
// 5)", or "message (コード 5)" when the system has none.
constexpr wchar_t kWithSystemText[] = L"%s (%s コード %lu)";
constexpr wchar_t kWithSystemCode[] = L"%s (コード %lu)";
}  // namespace Msg
