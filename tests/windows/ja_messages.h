// The failure messages as a script reads them (UTF-16), for the Windows tests.
#pragma once

namespace JaMsg {
inline constexpr wchar_t kItemNameNull[] = L"アイテム名がNULLです。";
inline constexpr wchar_t kNotArrayType[] = L"配列型ではありません。";
inline constexpr wchar_t kException[] = L"例外エラー";
inline constexpr wchar_t kSystemError[] = L"システムエラー";
inline constexpr wchar_t kWorkMemory[] = L"作業領域メモリを確保できませんでした。";
inline constexpr wchar_t kFileNameNull[] = L"ファイル名がNULLです。";
inline constexpr wchar_t kPathNameNull[] = L"パス名がNULLです。";
inline constexpr wchar_t kFileOpenError[] = L"ファイルオープンエラー";
inline constexpr wchar_t kFileWriteError[] = L"ファイル書き込みエラー";
inline constexpr wchar_t kFileReadError[] = L"ファイル読み込みエラー";
inline constexpr wchar_t kFileDeleteFailed[] = L"ファイルの削除が失敗しました。";
inline constexpr wchar_t kGuidError[] = L"GUIDの生成エラー";
}  // namespace JaMsg
