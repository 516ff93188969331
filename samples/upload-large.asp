<%@ Language="VBScript" CodePage=65001 %>
<%
' upload-large.asp - a large upload taken as it arrives: VARO.Upload reads
' the request itself (LoadRequest) and keeps each file in a temporary file of
' its own rather than in memory, so a file of gigabytes costs the server
' little memory. Every field is listed and every file saved by SaveUnique
' under a name the server makes (a GUID, and the client's extension only
' when it is one of those the form lists).
Option Explicit
Response.CharSet = "UTF-8"

Dim uploadDir, maxFileBytes, maxBytes, tooLarge
' On a real server keep the uploads folder outside the site's content (for
' example "D:\uploads"); the local server maps "uploads" to its --uploads.
uploadDir = Server.MapPath("uploads")
' Limits in bytes. The web server's own request limits (README, "Request
' size limits") must allow as much.
maxFileBytes = 2 * 1024 ^ 3              ' any one file: 2 GB
maxBytes = maxFileBytes + 1024 ^ 2       ' the whole body: such a file and 1 MB of fields
tooLarge = "送信できるのはファイル 1 つにつき 2 GB までです。"

Dim up, name, value, f, saved, fields, files, failure, refused

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
        up.MaxParts = 100
        up.MaxFileBytes = maxFileBytes
        up.MaxFieldBytes = 64 * 1024
        On Error Resume Next
        up.LoadRequest Request
        refused = Err.Number
        failure = Err.Description
        On Error GoTo 0
        ' A refusal's cause is its number: a limit is 413, anything else a body
        ' that is not a form, or one the client stopped sending.
        If IsLimit(refused) Then
            Response.Status = "413 Request Entity Too Large"
        ElseIf refused <> 0 Then
            Response.Status = "400 Bad Request"
        Else
            For Each name In up.Names
                For Each value In up.Values(name)
                    fields = fields & "<li>" & Server.HTMLEncode(name) & " = " & Server.HTMLEncode(value) & "</li>"
                Next
            Next
            For Each f In up.Files
                saved = f.SaveUnique(uploadDir)   ' moves the temporary file when it can
                files = files & "<li>" & Server.HTMLEncode(f.Name) & ": " & Server.HTMLEncode(f.FileName) & ", " & _
                    f.Size & " バイト, 保存名 " & Mid(saved, InStrRev(saved, "\") + 1) & "</li>"
            Next
        End If
    End If
End If
%><!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="UTF-8">
<title>大きなファイルのアップロード (VARO.Upload, LoadRequest)</title>
<style>
body { font-family: sans-serif; margin: 1.5em; max-width: 42em; }
label { font-weight: bold; }
.error { color: #b00020; font-weight: bold; }
li { white-space: pre-wrap; }
</style>
</head>
<body>
<h1>大きなファイルのアップロード</h1>
<% If failure <> "" Then %>
<p class="error"><%= Server.HTMLEncode(failure) %></p>
<% End If %>
<% If fields <> "" Then %>
<h2>受け取った項目</h2>
<ul><%= fields %></ul>
<% End If %>
<% If files <> "" Then %>
<h2>保存したファイル</h2>
<ul><%= files %></ul>
<% End If %>
<h2>送信するフォーム</h2>
<form method="post" enctype="multipart/form-data" accept-charset="UTF-8">
  <p><label for="title">題名</label><br><input id="title" name="title" size="40"></p>
  <p><label for="file">ファイル</label><br><input type="file" id="file" name="file"></p>
  <p>拡張子 txt, csv, pdf, png, jpg, jpeg, gif, webp, zip はそのまま、ほかは bin として保存します。<br>ファイル 1 つにつき <%= maxFileBytes / 1024 ^ 3 %> GB まで。</p>
  <p><input type="submit" value="送信"></p>
</form>
</body>
</html>
