<%@ Language="VBScript" CodePage=65001 %>
<%
' upload-resumable.asp - a large file sent in 1 MB pieces that survives a
' dropped connection and a reload. The page's own script speaks tus 1.0.0
' to resumable.asp (POST makes the upload, HEAD asks how many bytes the
' server holds, PATCH sends the next piece from there) and keeps the upload's
' URL in localStorage under the file's name, size and date, so choosing the
' same file again after a reload continues where it stopped. Once the server
' holds every byte, the script posts the upload's URL to this page, which
' opens the upload with VARO.Resumable's Open, checks it as any form's file
' and saves it. Each piece only must fit the server's request limits, not
' the whole file.
Option Explicit
Response.CharSet = "UTF-8"

Dim uploadDir, storeDir, maxBytes
' On a real server keep both folders outside the site's content (for example
' "D:\uploads" and "D:\tus"); the local server maps "uploads" to its
' --uploads. The store is the folder resumable.asp answers from.
uploadDir = Server.MapPath("uploads")
storeDir = Server.MapPath("uploads")
maxBytes = 1024 ^ 3                      ' one file: 1 GB, as resumable.asp's MaxSize

Dim up, resumable, f, address, saved, facts, failure

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    Set up = Server.CreateObject("VARO.Upload")
    up.CodePage = 65001
    up.MaxParts = 10
    up.MaxBytes = 64 * 1024              ' the form holds an address, not the file
    On Error Resume Next
    up.LoadRequest Request
    If Err.Number = 0 Then
        address = up("upload") & ""
        Set resumable = Server.CreateObject("VARO.Resumable")
        resumable.Folder = storeDir
        ' An address of another store, an unknown id or an upload not yet
        ' complete is refused with its reason.
        Set f = resumable.Open(address)
    End If
    failure = Err.Description
    On Error GoTo 0
    If failure = "" Then
        If f.Size > maxBytes Then
            failure = "送信できるのはファイル 1 つにつき 1 GB までです。"
        ElseIf f.DetectedType = "application/x-msdownload" Then
            ' The upload stays in the store until it expires.
            failure = "ファイル「" & f.FileName & "」はプログラムです。プログラムは受け付けていません。"
        End If
        If failure <> "" Then Response.Status = "415 Unsupported Media Type"
    Else
        Response.Status = "400 Bad Request"
    End If
    If failure = "" Then
        ' Saving takes the file out of the store.
        saved = f.SaveUnique(uploadDir)
        facts = "<li>file: " & Server.HTMLEncode(f.FileName) & ", " & f.Size & " バイト, 保存名 " & _
            Mid(saved, InStrRev(saved, "\") + 1) & "</li>" & _
            "<li>種類: " & Server.HTMLEncode(f.ContentType) & " (中身から: " & _
            Server.HTMLEncode(IIfEmpty(f.DetectedType, "不明")) & ")</li>" & _
            "<li>SHA-256: " & f.Hash("SHA256") & "</li>"
    End If
End If

Function IIfEmpty(text, instead)
    If text = "" Then IIfEmpty = instead Else IIfEmpty = text
End Function
%><!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="UTF-8">
<title>中断しても続きから送れるアップロード (tus, VARO.Resumable)</title>
<style>
body { font-family: sans-serif; margin: 1.5em; max-width: 42em; }
label { font-weight: bold; }
.error { color: #b00020; font-weight: bold; }
progress { width: 100%; }
li { white-space: pre-wrap; }
</style>
</head>
<body>
<h1>中断しても続きから送れるアップロード</h1>
<% If failure <> "" Then %>
<p class="error"><%= Server.HTMLEncode(failure) %></p>
<% End If %>
<% If facts <> "" Then %>
<h2>保存したファイル</h2>
<ul><%= facts %></ul>
<% End If %>
<h2>送信するファイル</h2>
<form id="form" method="post" enctype="multipart/form-data" accept-charset="UTF-8">
  <p><label for="file">ファイル</label><br><input type="file" id="file"></p>
  <p>1 MB ずつ送ります。接続が切れても、ページを読み込み直して同じファイルを選んでも、続きから送ります。ファイル 1 つにつき 1 GB まで。</p>
  <p><input type="submit" value="送信"></p>
</form>
<div id="progress" hidden>
  <p><label for="bar">サーバーが受け取ったバイト数</label><br><progress id="bar" max="100" value="0"></progress></p>
  <p><span id="held">0</span> / <span id="total">0</span> バイト</p>
  <p id="message"></p>
</div>
<script>
'use strict';
(function () {
  var endpoint = new URL('resumable.asp', location.href).href;
  var chunkSize = 1024 * 1024;
  var form = document.getElementById('form');
  var input = document.getElementById('file');

  // The upload of a file is found again by what the browser tells of it.
  function keyOf(file) { return 'tus:' + file.name + ':' + file.size + ':' + file.lastModified; }
  function say(text) { document.getElementById('message').textContent = text; }
  function show(held, total) {
    document.getElementById('held').textContent = held;
    document.getElementById('total').textContent = total;
    document.getElementById('bar').value = total ? 100 * held / total : 100;
  }
  function base64(text) {
    var bytes = new TextEncoder().encode(text), s = '';
    for (var i = 0; i < bytes.length; i++) s += String.fromCharCode(bytes[i]);
    return btoa(s);
  }
  function wait(ms) { return new Promise(function (resolve) { setTimeout(resolve, ms); }); }
  function failed(answer, what) {
    var error = new Error(what + ': ' + answer.status);
    error.status = answer.status;
    return error;
  }

  function create(file) {
    return fetch(endpoint, { method: 'POST', headers: {
      'Tus-Resumable': '1.0.0', 'Upload-Length': String(file.size),
      'Upload-Metadata': 'filename ' + base64(file.name) + ',filetype ' + base64(file.type || 'application/octet-stream')
    } }).then(function (answer) {
      if (answer.status !== 201) throw failed(answer, 'アップロードを始められません');
      return new URL(answer.headers.get('Location'), endpoint).href;
    });
  }
  // The bytes the server holds, or -1 when it no longer knows the upload.
  function held(url) {
    return fetch(url, { method: 'HEAD', headers: { 'Tus-Resumable': '1.0.0' }, cache: 'no-store' })
      .then(function (answer) {
        if (answer.status === 404 || answer.status === 410) return -1;
        if (!answer.ok) throw failed(answer, '受け取ったバイト数を聞けません');
        return Number(answer.headers.get('Upload-Offset'));
      });
  }
  function send(url, file, offset) {
    return fetch(url, { method: 'PATCH', body: file.slice(offset, offset + chunkSize), headers: {
      'Tus-Resumable': '1.0.0', 'Upload-Offset': String(offset), 'Content-Type': 'application/offset+octet-stream'
    } }).then(function (answer) {
      if (answer.status !== 204) throw failed(answer, '送れませんでした');
      return Number(answer.headers.get('Upload-Offset'));
    });
  }

  // Sends the file from where the server stands; a dropped connection or a
  // busy server is tried again after a pause that grows up to 30 s, each
  // time from the bytes the server says it holds.
  async function upload(file) {
    var key = keyOf(file), url = localStorage.getItem(key), offset = -1, pause = 1000;
    for (;;) {
      try {
        if (url && offset < 0) {
          offset = await held(url);
          if (offset > 0) say('前回の続きから送ります (' + offset + ' バイト受け取り済み)。');
        }
        if (!url || offset < 0) {
          url = await create(file);
          localStorage.setItem(key, url);
          offset = 0;
        }
        show(offset, file.size);
        while (offset < file.size) {
          offset = await send(url, file, offset);
          show(offset, file.size);
          pause = 1000;
        }
        if (file.size === 0) show(0, 0);
        return url;
      } catch (e) {
        // Another size or type is refused for good; the rest is tried again.
        if (e.status === 413 || e.status === 415 || e.status === 400 || e.status === 403) throw e;
        offset = -1;
        say('接続が切れました。' + pause / 1000 + ' 秒後に続きから送ります。(' + e.message + ')');
        await wait(pause);
        pause = Math.min(pause * 2, 30000);
      }
    }
  }

  form.addEventListener('submit', function (event) {
    event.preventDefault();
    var file = input.files[0];
    if (!file) { say('ファイルを選んでください。'); return; }
    document.getElementById('progress').hidden = false;
    say('');
    upload(file).then(function (url) {
      localStorage.removeItem(keyOf(file));
      // The file is on the server: only its address goes with the form.
      var done = document.createElement('form');
      done.method = 'post';
      done.enctype = 'multipart/form-data';
      done.acceptCharset = 'UTF-8';
      done.hidden = true;
      var field = document.createElement('input');
      field.type = 'hidden';
      field.name = 'upload';
      field.value = url;
      done.appendChild(field);
      document.body.appendChild(done);
      done.submit();
    }, function (e) {
      say('送信できませんでした。' + e.message);
    });
  });
})();
</script>
</body>
</html>
