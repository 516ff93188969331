<%@ Language="VBScript" CodePage=65001 %>
<%
' upload-progress.asp - a large upload with a progress bar. The form is sent
' by the page's script with an id of its own making in the address
' (?id=...); the page gives that id to VARO.Upload's ProgressID before
' LoadRequest, and while the body arrives the script asks progress.asp for
' the upload's figures every half second: percent, speed, time left, and a
' refusal's reason. Without the script the form is sent as any other, with
' no bar. ?max=BYTES lowers the file limit below the one set here (to see a
' refusal in the bar); it never raises it.
Option Explicit
Response.CharSet = "UTF-8"

Dim uploadDir, maxFileBytes, maxBytes, tooLarge
' On a real server keep the uploads folder outside the site's content (for
' example "D:\uploads"); the local server maps "uploads" to its --uploads.
uploadDir = Server.MapPath("uploads")
maxFileBytes = 200 * 1024 ^ 2            ' any one file: 200 MB
maxBytes = maxFileBytes + 1024 ^ 2       ' the whole body: such a file and 1 MB of fields
tooLarge = "送信できるのはファイル 1 つにつき 200 MB までです。"

Dim up, f, saved, files, failure, lowered, refused

' Whether a refusal's number (Err.Number, listed in the README) is one of
' VARO.Upload's limits: MaxParts, MaxBytes, MaxFileBytes, MaxFieldBytes.
Function IsLimit(number)
    Select Case number
        Case &H80040202, &H80040204, &H80040205, &H80040206: IsLimit = True
        Case Else: IsLimit = False
    End Select
End Function
lowered = Request.QueryString("max") & ""
If IsNumeric(lowered) And lowered <> "" Then
    If CDbl(lowered) >= 0 And CDbl(lowered) < maxFileBytes Then maxFileBytes = Int(CDbl(lowered))
End If

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    If Request.TotalBytes > maxBytes Then
        Response.Status = "413 Request Entity Too Large"
        failure = tooLarge
    Else
        Set up = Server.CreateObject("VARO.Upload")
        up.CodePage = 65001
        up.MaxParts = 100
        up.MaxFileBytes = maxFileBytes
        On Error Resume Next
        ' A bad id is refused with its reason, and the upload not read.
        up.ProgressID = Request.QueryString("id") & ""
        If Err.Number = 0 Then up.LoadRequest Request
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
            For Each f In up.Files
                saved = f.SaveUnique(uploadDir)
                files = files & "<li>" & Server.HTMLEncode(f.FileName) & ", " & f.Size & " バイト, 保存名 " & _
                    Mid(saved, InStrRev(saved, "\") + 1) & "</li>"
            Next
        End If
    End If
End If
%><!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="UTF-8">
<title>進み具合を見ながらアップロード (VARO.Upload, VARO.Progress)</title>
<style>
body { font-family: sans-serif; margin: 1.5em; max-width: 42em; }
label { font-weight: bold; }
.error { color: #b00020; font-weight: bold; }
progress { width: 100%; }
</style>
</head>
<body>
<h1>進み具合を見ながらアップロード</h1>
<div id="result">
<% If failure <> "" Then %>
<p class="error"><%= Server.HTMLEncode(failure) %></p>
<% End If %>
<% If files <> "" Then %>
<h2>保存したファイル</h2>
<ul><%= files %></ul>
<% End If %>
</div>
<h2>送信するフォーム</h2>
<form id="form" method="post" enctype="multipart/form-data" accept-charset="UTF-8">
  <p><label for="file">ファイル</label><br><input type="file" id="file" name="file"></p>
  <p>ファイル 1 つにつき <%= maxFileBytes %> バイトまで。</p>
  <p><input type="submit" value="送信"></p>
</form>
<div id="progress" hidden>
  <p><label for="bar">進み具合</label><br><progress id="bar" max="100" value="0"></progress></p>
  <p><span id="percent">0</span> %、<span id="speed">-</span>、残り <span id="remaining">-</span></p>
  <p id="message" class="error"></p>
</div>
<script>
'use strict';
(function () {
  var form = document.getElementById('form');
  function newId() {
    if (window.crypto && crypto.randomUUID) return crypto.randomUUID();
    return Date.now().toString(36) + '-' + Math.random().toString(36).slice(2);
  }
  function speed(bytesPerSecond) {
    return bytesPerSecond >= 1048576 ? (bytesPerSecond / 1048576).toFixed(1) + ' MB/秒'
                                     : Math.round(bytesPerSecond / 1024) + ' KB/秒';
  }
  function show(p) {
    document.getElementById('bar').value = p.percent;
    document.getElementById('percent').textContent = p.percent;
    document.getElementById('speed').textContent = speed(p.bytesPerSecond);
    document.getElementById('remaining').textContent = p.remainingSeconds < 0 ? '-' : p.remainingSeconds + ' 秒';
    document.getElementById('message').textContent = p.message;  // text, never markup
  }
  form.addEventListener('submit', function (event) {
    event.preventDefault();
    var id = newId(), ended = false;
    var max = new URLSearchParams(location.search).get('max');
    var address = location.pathname + '?id=' + encodeURIComponent(id) + (max ? '&max=' + encodeURIComponent(max) : '');
    document.getElementById('progress').hidden = false;
    function poll() {
      fetch('progress.asp?id=' + encodeURIComponent(id), { cache: 'no-store' })
        .then(function (answer) { return answer.json(); })
        .then(function (p) {
          if (p.state !== 'unknown') show(p);
          if (p.state === 'reading' || p.state === 'unknown') {
            if (!ended || p.state === 'reading') setTimeout(poll, 500);
          }
        })
        .catch(function () { setTimeout(poll, 500); });
    }
    setTimeout(poll, 500);
    var request = new XMLHttpRequest();
    request.open('POST', address);
    request.onload = function () {
      ended = true;
      var answer = new DOMParser().parseFromString(request.responseText, 'text/html');
      var result = answer.getElementById('result');
      if (result) document.getElementById('result').replaceWith(document.adoptNode(result));
      poll();  // the last figures: done, or the reason for a refusal
    };
    request.onerror = function () { ended = true; poll(); };
    request.send(new FormData(form));
  });
})();
</script>
</body>
</html>
