<%@ Language="JScript" %>
<%
// upload_page_js.asp - the logic of samples/upload.asp as a JScript page.
// JScript passes no [out] arguments, so GetFileInfo's result only tells
// whether a field is in the form; the page knows which of its fields are
// file inputs. A file field is saved twice: by WriteForm, and as the bytes
// FormBinary returns, through WriteBinary. memo is not on the form: a field
// the client never sends.
Response.CharSet = "Shift_JIS";

var fields = [["title", "text"], ["comment", "text"], ["color", "text"], ["memo", "text"],
              ["empty", "file"], ["upload", "file"], ["data", "file"]];
var outDir = Server.MapPath("uploads");

function encode(value) {
    return Server.HTMLEncode(value);
}
%>
<h1>アップロード結果</h1>
<%
if (Request.ServerVariables("REQUEST_METHOD") == "POST") {
    var mng = Server.CreateObject("VARO.WebMng");
    var body = Request.BinaryRead(Request.TotalBytes);
    var clientPath, fileName, fileSize;
    Response.Write("<ul>");
    for (var i = 0; i < fields.length; i++) {
        var name = fields[i][0];
        if (mng.GetFileInfo(body, name, clientPath, fileName, fileSize) != 0) {
            Response.Write("<li>" + encode(name) + ": (not in the form)</li>");
        } else if (fields[i][1] == "text") {
            Response.Write("<li>" + encode(name) + " = " + encode(mng.Form(body, name)) + "</li>");
        } else {
            var target = outDir + "\\" + name + ".saved";
            mng.DeleteFile(target);
            Response.Write("<li>" + encode(name) + ": WriteForm " + mng.WriteForm(body, target, name) +
                ", WriteBinary " + mng.WriteBinary(mng.FormBinary(body, name), outDir + "\\" + name + ".bin") +
                "</li>");
        }
    }
    Response.Write("</ul>");
    // A page that hands over something other than the body: the error
    // carries the component's own description.
    try {
        mng.WriteBinary("not bytes", outDir + "\\not-bytes.bin");
        Response.Write("<p>no error</p>");
    } catch (e) {
        Response.Write("<p>error: " + encode(e.description) + "</p>");
    }
}
%>
<p><%= Request.TotalBytes %> bytes, saved in uploads\ ("<%= encode(outDir) %>")</p>
<form method="post" enctype="multipart/form-data" accept-charset="Shift_JIS">
  <p><input name="title"> <textarea name="comment"></textarea></p>
  <p><input type="checkbox" name="color" value="red"> <input type="checkbox" name="color" value="blue"></p>
  <p><input type="file" name="empty"> <input type="file" name="upload"> <input type="file" name="data"></p>
  <p><input type="submit"></p>
</form>
