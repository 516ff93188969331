<%@ Language="VBScript" CodePage=932 %>
<%
' upload.asp - receives a multipart/form-data post and saves its files.
' The same logic as upload.vbs, as a classic page: the body comes from
' Request.BinaryRead and the report goes to the response.
Option Explicit
Response.CharSet = "Shift_JIS"

Dim fields, mng, body, outDir, i, name, clientPath, fileName, fileSize, target
fields = Array("title", "comment", "color", "empty", "upload", "data")
outDir = Server.MapPath("uploads")

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    Set mng = Server.CreateObject("VARO.WebMng")
    body = Request.BinaryRead(Request.TotalBytes)
    Response.Write "<ul>"
    For i = 0 To UBound(fields)
        name = fields(i)
        If mng.GetFileInfo(body, name, clientPath, fileName, fileSize) <> 0 Then
            Response.Write "<li>" & Server.HTMLEncode(name) & ": (not in the form)</li>"
        ElseIf fileName = "" Then
            Response.Write "<li>" & Server.HTMLEncode(name) & " = " & Server.HTMLEncode(mng.Form(body, name)) & "</li>"
        Else
            target = outDir & "\" & fileName
            mng.DeleteFile target
            If mng.WriteForm(body, target, name) = 0 Then
                Response.Write "<li>" & Server.HTMLEncode(name) & ": " & Server.HTMLEncode(fileName) & ", " & _
                    fileSize & " bytes, saved</li>"
            Else
                Response.Write "<li>" & Server.HTMLEncode(name) & ": not saved</li>"
            End If
        End If
    Next
    Response.Write "</ul>"
End If
%>
<form method="post" enctype="multipart/form-data" accept-charset="Shift_JIS">
  <p><input name="title"> <textarea name="comment"></textarea></p>
  <p><input type="checkbox" name="color" value="red"> <input type="checkbox" name="color" value="blue"></p>
  <p><input type="file" name="empty"> <input type="file" name="upload"> <input type="file" name="data"></p>
  <p><input type="submit"></p>
</form>
