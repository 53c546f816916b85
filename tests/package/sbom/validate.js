// Validates CycloneDX JSON documents with the CycloneDX library's strict JSON validator,
// against the schema of the version each one declares.
//
//   NODE_PATH=<node_modules> node validate.js <bom.json>...
//
// Prints one line per document and the schema's complaints; exits 1 when any is invalid.
'use strict'
const fs = require('fs')
const CDX = require('@cyclonedx/cyclonedx-library')

async function validate (file) {
  const text = fs.readFileSync(file, 'utf8')
  const version = JSON.parse(text).specVersion
  if (!Object.values(CDX.Spec.Version).includes(version)) {
    console.log(`invalid: ${file}: unknown CycloneDX version ${JSON.stringify(version)}`)
    return false
  }
  const errors = await new CDX.Validation.JsonStrictValidator(version).validate(text)
  if (errors === null) {
    console.log(`valid: ${file} (CycloneDX ${version})`)
    return true
  }
  console.log(`invalid: ${file} (CycloneDX ${version}):\n${JSON.stringify(errors, null, 2)}`)
  return false
}

async function main (files) {
  if (files.length === 0) {
    console.error('usage: validate.js <bom.json>...')
    return 2
  }
  let valid = true
  for (const file of files) valid = (await validate(file)) && valid
  return valid ? 0 : 1
}

main(process.argv.slice(2)).then(code => { process.exitCode = code }, error => {
  console.error(error)
  process.exitCode = 2
})
