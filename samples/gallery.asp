<%@ Language="VBScript" CodePage=65001 %>
<%
' gallery.asp - an image gallery that takes images only: VARO.Upload tells
' each file's real type from its first bytes (AllowedTypes refuses anything
' else, an executable renamed .jpg included), its size in pixels, and its
' SHA-256 taken while the request is read. Each image is kept under its
' hash, so the same image sent twice is kept once.
Option Explicit
Response.CharSet = "UTF-8"

Dim uploadDir, maxBytes, tooLarge, allowedTypes
' On a real server keep the uploads folder outside the site's content (for
' example "D:\uploads"); the local server maps "uploads" to its --uploads.
uploadDir = Server.MapPath("uploads")
maxBytes = 20 * 1024 ^ 2   ' the whole request: 20 MB
tooLarge = "送信できるのは合計 20 MB までです。"
allowedTypes = "image/png image/jpeg image/gif image/webp image/bmp"

' The extension an image is kept under, from its detected type.
Function ExtensionOf(detectedType)
    Select Case detectedType
        Case "image/jpeg": ExtensionOf = "jpg"
        Case Else: ExtensionOf = Mid(detectedType, InStr(detectedType, "/") + 1)
    End Select
End Function

Dim up, f, keptAs, shown, failure, refused

' Whether a refusal's number (Err.Number, listed in the README) is one of
' VARO.Upload's limits: MaxParts, MaxBytes, MaxFileBytes, MaxFieldBytes.
Function IsLimit(number)
    Select Case number
        Case &H80040202, &H80040204, &H80040205, &H80040206: IsLimit = True
        Case Else: IsLimit = False
    End Select
End Function

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    If Request.TotalBytes > maxBytes Then
        Response.Status = "413 Request Entity Too Large"
        failure = tooLarge
    Else
        Set up = Server.CreateObject("VARO.Upload")
        up.CodePage = 65001
        up.MaxParts = 20
        up.AllowedTypes = allowedTypes
        up.HashWhileLoading = "SHA256"
        On Error Resume Next
        up.LoadRequest Request
        refused = Err.Number
        failure = Err.Description
        On Error GoTo 0
        ' A refusal's cause is its number: a file of another type is 415, a
        ' limit 413, anything else a body that is not a form.
        If refused = &H80040207 Then
            Response.Status = "415 Unsupported Media Type"
        ElseIf IsLimit(refused) Then
            Response.Status = "413 Request Entity Too Large"
        ElseIf refused <> 0 Then
            Response.Status = "400 Bad Request"
        Else
            For Each f In up.Files
                keptAs = f.Hash() & "." & ExtensionOf(f.DetectedType)
                ' Never replaced: a file of that name already holds these bytes.
                On Error Resume Next
                f.SaveAs uploadDir & "\" & keptAs
                If Err.Number = &H80070050 Then keptAs = keptAs & " (保存済み)"
                On Error GoTo 0
                shown = shown & "<li>" & Server.HTMLEncode(f.FileName) & ": " & f.DetectedType & ", " & _
                    f.ImageWidth & " x " & f.ImageHeight & " ピクセル, " & f.Size & " バイト<br>SHA-256 " & _
                    Server.HTMLEncode(keptAs) & "</li>"
            Next
        End If
    End If
End If
%><!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="UTF-8">
<title>画像ギャラリー (VARO.Upload)</title>
<style>
body { font-family: sans-serif; margin: 1.5em; max-width: 42em; }
label { font-weight: bold; }
.error { color: #b00020; font-weight: bold; }
li { margin-bottom: 0.5em; overflow-wrap: anywhere; }
</style>
</head>
<body>
<h1>画像ギャラリー</h1>
<% If failure <> "" Then %>
<p class="error"><%= Server.HTMLEncode(failure) %></p>
<% End If %>
<% If shown <> "" Then %>
<h2>受け取った画像</h2>
<ul><%= shown %></ul>
<% End If %>
<h2>画像を送る</h2>
<form method="post" enctype="multipart/form-data" accept-charset="UTF-8">
  <p><label for="images">画像 (PNG, JPEG, GIF, WebP, BMP)</label><br><input type="file" id="images" name="images" multiple></p>
  <p>ファイルの中身で種類を確かめます。名前だけ画像のファイルは受け付けません。合わせて <%= maxBytes / 1024 ^ 2 %> MB まで。</p>
  <p><input type="submit" value="送信"></p>
</form>
</body>
</html>
