<%@ Language="JScript" CodePage=65001 %>
<%
// upload-js.asp - upload-utf8.asp's form as a JScript page: VARO.Upload
// reads the request in pieces (LoadRequest), lists every field with all its
// values and saves every file by SaveUnique under a name the server makes (a
// GUID, and the client's extension only when it is one of those the form
// lists). Names, Values and Files reach JScript as VBArrays.
Response.CharSet = "UTF-8";

// On a real server keep the uploads folder outside the site's content (for
// example "D:\\uploads"); the local server maps "uploads" to its --uploads.
var uploadDir = Server.MapPath("uploads");
var maxBytes = 50 * 1024 * 1024;
var tooLarge = "送信できるのは合計 50 MB までです。";

var up = null, fields = "", files = "", failure = "";

function encode(text) {
    return Server.HTMLEncode(String(text));
}

if (String(Request.ServerVariables("REQUEST_METHOD")) == "POST") {
    if (Request.TotalBytes > maxBytes) {
        Response.Status = "413 Request Entity Too Large";
        failure = tooLarge;
    } else {
        up = Server.CreateObject("VARO.Upload");
        up.CodePage = 65001;
        up.MaxParts = 100;
        try {
            up.LoadRequest(Request);
        } catch (e) {
            failure = String(e.description);
            // A refusal's cause is its number (listed in the README): a limit
            // (MaxParts, MaxBytes, MaxFileBytes, MaxFieldBytes) is 413, any
            // other a body that is not a form.
            var limits = [0x80040202, 0x80040204, 0x80040205, 0x80040206];
            var isLimit = false;
            for (var i = 0; i < limits.length; i++) if ((e.number >>> 0) == limits[i]) isLimit = true;
            Response.Status = isLimit ? "413 Request Entity Too Large" : "400 Bad Request";
        }
    }
    if (up && !failure) {
        var names = new VBArray(up.Names).toArray();
        for (var i = 0; i < names.length; i++) {
            var values = new VBArray(up.Values(names[i])).toArray();
            for (var j = 0; j < values.length; j++)
                fields += "<li>" + encode(names[i]) + " = " + encode(values[j]) + "</li>";
        }
        var uploaded = new VBArray(up.Files).toArray();
        for (var k = 0; k < uploaded.length; k++) {
            var f = uploaded[k];
            var saved = f.SaveUnique(uploadDir);
            files += "<li>" + encode(f.Name) + ": " + encode(f.FileName) + ", " + f.Size + " バイト, 保存名 " +
                saved.substring(saved.lastIndexOf("\\") + 1) + "</li>";
        }
    }
}
%><!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="UTF-8">
<title>ファイルのアップロード (JScript, VARO.Upload)</title>
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
<h1>ファイルのアップロード (JScript)</h1>
<% if (failure) { %>
<p class="error"><%= encode(failure) %></p>
<% } %>
<% if (fields) { %>
<h2>受け取った項目</h2>
<ul><%= fields %></ul>
<% } %>
<% if (files) { %>
<h2>保存したファイル</h2>
<ul><%= files %></ul>
<% } %>
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
