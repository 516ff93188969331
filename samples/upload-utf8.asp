<%@ Language="VBScript" CodePage=65001 %>
<%
' upload-utf8.asp - every field and every file of a UTF-8 form, through
' VARO.Upload: the names as the form sent them, every value of each, and
' each file saved by SaveUnique under a name the server makes (a GUID, and
' the client's extension only when it is one of those the form lists). The
' whole body is read into memory: upload-large.asp takes large uploads as
' they arrive.
Option Explicit
Response.CharSet = "UTF-8"

Dim uploadDir, maxBytes, tooLarge
' On a real server keep the uploads folder outside the site's content (for
' example "D:\uploads"); the local server maps "uploads" to its --uploads.
uploadDir = Server.MapPath("uploads")
maxBytes = 50 * 1024 * 1024
tooLarge = "送信できるのは合計 50 MB までです。"

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
        On Error Resume Next
        up.Load Request.BinaryRead(Request.TotalBytes)
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
                saved = f.SaveUnique(uploadDir)
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
<title>ファイルのアップロード (VARO.Upload, UTF-8)</title>
<style>
body { font-family: sans-serif; margin: 1.5em; max-width: 42em; }
label, legend { font-weight: bold; }
fieldset { border: none; padding: 0; }
fieldset label { font-weight: normal; margin-right: 1em; }
.error { color: #b00020; font-weight: bold; }
li { white-space: pre-wrap; }
</style>
</head>
<body>
<h1>ファイルのアップロード</h1>
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
  <p><label for="name">名前</label><br><input id="name" name="name" size="40"></p>
  <p><label for="comment">コメント</label><br><textarea id="comment" name="comment" rows="3" cols="40"></textarea></p>
  <fieldset><legend>色</legend>
    <label><input type="checkbox" name="color" value="赤"> 赤</label>
    <label><input type="checkbox" name="color" value="青"> 青</label>
  </fieldset>
  <p><label for="files">ファイル (いくつでも)</label><br><input type="file" id="files" name="files" multiple></p>
  <p><label for="other">ほかのファイル</label><br><input type="file" id="other" name="other"></p>
  <p>拡張子 txt, csv, pdf, png, jpg, jpeg, gif, webp, zip はそのまま、ほかは bin として保存します。<br>合計 <%= maxBytes / 1048576 %> MB まで。</p>
  <p><input type="submit" value="送信"></p>
</form>
</body>
</html>
