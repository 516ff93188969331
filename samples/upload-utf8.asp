<%@ Language="VBScript" CodePage=65001 %>
<%
' upload-utf8.asp - every field and every file of a UTF-8 form, through
' VARO.Upload: the names as the form sent them, every value of each, and each
' file saved under a server-made name (a GUID, keeping only a harmless
' extension) in the page's uploads folder. A body that is not a form, or one
' with more parts than the page allows, is answered with the reason.
Option Explicit
Response.CharSet = "UTF-8"

Dim up, name, value, f, saved, failure

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    Set up = Server.CreateObject("VARO.Upload")
    up.CodePage = 65001
    up.MaxParts = 100
    On Error Resume Next
    up.Load Request.BinaryRead(Request.TotalBytes)
    failure = Err.Description
    On Error GoTo 0
    If failure <> "" Then
        Response.Write "<p>" & Server.HTMLEncode(failure) & "</p>"
    Else
        Response.Write "<ul>"
        For Each name In up.Names
            For Each value In up.Values(name)
                Response.Write "<li>" & Server.HTMLEncode(name) & " = " & Server.HTMLEncode(value) & "</li>"
            Next
        Next
        Response.Write "</ul><ul>"
        For Each f In up.Files
            saved = f.SaveUnique(Server.MapPath("uploads"))
            Response.Write "<li>" & Server.HTMLEncode(f.Name) & ": " & Server.HTMLEncode(f.FileName) & ", " & _
                f.Size & " bytes, saved as " & Mid(saved, InStrRev(saved, "\") + 1) & "</li>"
        Next
        Response.Write "</ul>"
    End If
End If
%>
<form method="post" enctype="multipart/form-data" accept-charset="UTF-8">
  <p><input name="name"> <textarea name="comment"></textarea></p>
  <p><input type="checkbox" name="color" value="赤"> <input type="checkbox" name="color" value="青"></p>
  <p><input type="file" name="files" multiple> <input type="file" name="other"></p>
  <p><input type="submit" value="送信"></p>
</form>
