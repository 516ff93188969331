<%@ Language="VBScript" CodePage=932 %>
<%
' upload.asp - a Shift_JIS form read with VARO.WebMng, which answers for the
' fields a page knows by name. Each uploaded file is saved under a name the
' server makes (a GUID, keeping the client's extension only when it is on the
' list below), so a client never chooses what a file on the server is called.
' The page file is Shift_JIS, as its CodePage says; WebMng reads the form's
' text in the server's ANSI code page, 932 for this form.
Option Explicit
Response.CharSet = "Shift_JIS"

Dim uploadDir, maxBytes, tooLarge, notForm, allowed
' On a real server keep the uploads folder outside the site's content (for
' example "D:\uploads"); the local server maps "uploads" to its --uploads.
uploadDir = Server.MapPath("uploads")
maxBytes = 50 * 1024 * 1024
tooLarge = "送信できるのは合計 50 MB までです。"
notForm = "このページのフォームから送信してください。"
' The extensions a saved file keeps (SaveUnique's); any other becomes .bin.
allowed = "txt csv pdf png jpg jpeg gif webp zip"

Dim texts, files, mng, body, contentType, name, clientPath, fileName, fileSize, target, found, report, failure

texts = Array("title", "comment", "color")
files = Array("empty", "upload", "data")

Function SavedName(clientName)
    Dim ext, candidate
    ext = "bin"
    For Each candidate In Split(allowed, " ")
        If LCase(Right(clientName, Len(candidate) + 1)) = "." & candidate Then ext = candidate
    Next
    SavedName = mng.CreateGUID() & "." & ext
End Function

Function ReportLine(name, text)
    ReportLine = "<li>" & Server.HTMLEncode(name) & text & "</li>"
End Function

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    contentType = LCase(Request.ServerVariables("CONTENT_TYPE"))
    If Request.TotalBytes > maxBytes Then
        Response.Status = "413 Request Entity Too Large"
        failure = tooLarge
    ' A form post names its boundary; without one the body is no form.
    ElseIf InStr(contentType, "multipart/form-data") <> 1 Or InStr(contentType, "boundary=") = 0 Then
        Response.Status = "400 Bad Request"
        failure = notForm
    Else
        Set mng = Server.CreateObject("VARO.WebMng")
        body = Request.BinaryRead(Request.TotalBytes)
        found = 0
        For Each name In texts
            If mng.GetFileInfo(body, name, clientPath, fileName, fileSize) <> 0 Then
                report = report & ReportLine(name, ": (送信されていません)")
            Else
                found = found + 1
                report = report & ReportLine(name, " = " & Server.HTMLEncode(mng.Form(body, name)))
            End If
        Next
        For Each name In files
            If mng.GetFileInfo(body, name, clientPath, fileName, fileSize) <> 0 Then
                report = report & ReportLine(name, ": (送信されていません)")
            ElseIf fileName = "" Then
                found = found + 1
                report = report & ReportLine(name, ": (ファイルなし)")
            Else
                found = found + 1
                target = SavedName(fileName)
                If mng.WriteForm(body, uploadDir & "\" & target, name) = 0 Then
                    report = report & ReportLine(name, ": " & Server.HTMLEncode(fileName) & ", " & fileSize & _
                        " バイト, 保存名 " & target)
                Else
                    report = report & ReportLine(name, ": " & Server.HTMLEncode(fileName) & " は保存できませんでした")
                End If
            End If
        Next
        ' None of the page's fields: a post from some other form.
        If found = 0 Then
            Response.Status = "400 Bad Request"
            failure = notForm
        End If
    End If
End If
%><!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="Shift_JIS">
<title>ファイルのアップロード (WebMng)</title>
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
<% ElseIf report <> "" Then %>
<h2>受け取った内容</h2>
<ul><%= report %></ul>
<% End If %>
<h2>送信するフォーム</h2>
<form method="post" enctype="multipart/form-data" accept-charset="Shift_JIS">
  <p><label for="title">題名</label><br><input id="title" name="title" size="40"></p>
  <p><label for="comment">コメント</label><br><textarea id="comment" name="comment" rows="3" cols="40"></textarea></p>
  <fieldset><legend>色</legend>
    <label><input type="checkbox" name="color" value="red"> 赤</label>
    <label><input type="checkbox" name="color" value="blue"> 青</label>
  </fieldset>
  <p><label for="empty">ファイル 1</label><br><input type="file" id="empty" name="empty"></p>
  <p><label for="upload">ファイル 2</label><br><input type="file" id="upload" name="upload"></p>
  <p><label for="data">ファイル 3</label><br><input type="file" id="data" name="data"></p>
  <p>拡張子 <%= Replace(allowed, " ", ", ") %> はそのまま、ほかは bin として保存します。<br>合計 <%= maxBytes / 1048576 %> MB まで。</p>
  <p><input type="submit" value="送信"></p>
</form>
</body>
</html>
